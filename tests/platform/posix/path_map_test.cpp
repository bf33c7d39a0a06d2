#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/posix/posix_internal.h"

namespace {

struct PathCase {
  const char *root;  // GRADES_DRIVE_ROOT, or null for unset
  const char *dos;
  const char *posix;
};

TEST(MapDosPathTest, DriveLettersGoBelowTheDriveRoot) {
  const PathCase cases[] = {
      {"/tmp/drives", "E:\\devpas\\jegyek\\egeszek.txt", "/tmp/drives/e/devpas/jegyek/egeszek.txt"},
      {"/tmp/drives/", "e:\\a.txt", "/tmp/drives/e/a.txt"},
      {"/r", "X:/a/b.txt", "/r/x/a/b.txt"},
      {"/r", "C:", "/r/c"},
      {"/r", "C:a.txt", "/r/c/a.txt"},
      {nullptr, "E:\\a\\b.txt", "/mnt/e/a/b.txt"},
      {"", "E:\\a", "/mnt/e/a"},
      {"/r", "rel\\dir\\f.txt", "rel/dir/f.txt"},
      {"/r", "\\abs\\f.txt", "/abs/f.txt"},
      {"/r", "plain.txt", "plain.txt"},
      {"/r", "1:\\x", "1:/x"},
  };
  for (const PathCase &c : cases) {
    if (c.root != nullptr) setenv("GRADES_DRIVE_ROOT", c.root, 1);
    else unsetenv("GRADES_DRIVE_ROOT");
    char out[256];
    ASSERT_TRUE(platform_posix::MapDosPath(c.dos, out, sizeof out)) << c.dos;
    EXPECT_STREQ(out, c.posix) << c.dos;
  }
  unsetenv("GRADES_DRIVE_ROOT");
}

TEST(MapDosPathTest, RefusesWhatDoesNotFit) {
  setenv("GRADES_DRIVE_ROOT", "/root-of-some-length", 1);
  char out[16];
  EXPECT_FALSE(platform_posix::MapDosPath("E:\\x", out, sizeof out));
  EXPECT_TRUE(platform_posix::MapDosPath("short", out, sizeof out));
  EXPECT_FALSE(platform_posix::MapDosPath("0123456789abcdef", out, sizeof out));
  unsetenv("GRADES_DRIVE_ROOT");
}

}  // namespace
