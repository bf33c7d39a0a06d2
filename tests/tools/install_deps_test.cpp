// tools/install-deps against stand-ins for apt-get, dpkg-query, dpkg and
// sudo on PATH, on a machine that has none of the packages: what it asks
// apt for and what it says when the package lists cannot all be updated (a
// mirror half way through a sync) and when a purpose's packages cannot be
// installed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// apt-get's update fails as on a half-synced mirror; its install fails when
// it is asked for the package in $FAIL, with apt's own words, unless it is
// also asked for the pin in $CURE.
constexpr char kAptGet[] = R"(#!/bin/sh
echo "$*" >> "$LOG"
case " $* " in
  *" update "*)
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  *" $FAIL "*"$CURE"*) ;;
  *" $FAIL "*)
    echo " $FAIL : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100 ;;
esac
)";

struct Scratch {
  fs::path dir = fs::temp_directory_path() / ("install_deps_" + std::to_string(getpid()));
  Scratch() {
    fs::create_directories(dir / "bin");
    Tool("apt-get", kAptGet);
    Tool("dpkg-query", "#!/bin/sh\ncase \"$*\" in *Multi-Arch*) echo zlib1g same ;; *) exit 1 ;; esac\n");
    Tool("dpkg",
         "#!/bin/sh\n[ \"$1\" = --print-foreign-architectures ] && echo i386\n"
         "[ \"$1\" = --print-architecture ] && echo amd64\nexit 0\n");
    Tool("apt-cache",
         "#!/bin/sh\n[ \"$1\" = depends ] && exec printf 'wine32:i386\\n  Depends: zlib1g:i386\\nzlib1g:i386\\n'\n"
         "printf 'zlib1g:i386:\\n  Installed: (none)\\n  Candidate: 1:1.2.13\\n"
         "zlib1g:\\n  Installed: 1:1.2.13\\n  Candidate: 1:1.2.13+deb12u1\\n'\n");
    Tool("sudo", "#!/bin/sh\nexec \"$@\"\n");
  }
  ~Scratch() { fs::remove_all(dir); }
  void Tool(const std::string &name, const std::string &text) const {
    std::ofstream(dir / "bin" / name) << text;
    fs::permissions(dir / "bin" / name, fs::perms::owner_all);
  }
};

struct Outcome {
  int status = -1;
  std::string said;                // its standard output and error
  std::vector<std::string> asked;  // apt-get's command lines
};

Outcome InstallDeps(const Scratch &scratch, const std::string &purposes, const std::string &failing,
                    const std::string &cure = "never") {
  const fs::path log = scratch.dir / "apt.log";
  fs::remove(log);
  const std::string command = "PATH='" + (scratch.dir / "bin").string() + "':\"$PATH\" LOG='" + log.string() +
                              "' FAIL='" + failing + "' CURE='" + cure + "' bash '" + INSTALL_DEPS + "' " + purposes +
                              " 2>&1";
  Outcome run;
  FILE *p = popen(command.c_str(), "r");
  char buf[512];
  while (p != nullptr && std::fgets(buf, sizeof buf, p) != nullptr) run.said += buf;
  run.status = p != nullptr ? pclose(p) : -1;
  std::ifstream lines(log);
  for (std::string line; std::getline(lines, line);) run.asked.push_back(line);
  return run;
}

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

int Installs(const Outcome &run, const std::string &package) {
  int n = 0;
  for (const std::string &line : run.asked) n += Has(line, " install ") && Has(line, " " + package) ? 1 : 0;
  return n;
}

TEST(InstallDepsTest, AFailedUpdateStillInstalls) {
  Scratch scratch;
  const Outcome run = InstallDeps(scratch, "windows", "");
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.said;
  ASSERT_GE(run.asked.size(), 2u);
  EXPECT_TRUE(Has(run.asked[0], "update")) << run.asked[0];
  EXPECT_EQ(Installs(run, "wine32:i386"), 1);
  for (const std::string &line : run.asked) EXPECT_TRUE(Has(line, "Acquire::Retries=")) << line;
  // One line says so, with the mirror's own words.
  EXPECT_TRUE(Has(run.said, "some package lists could not be updated (Failed to fetch")) << run.said;
}

TEST(InstallDepsTest, APurposeThatCannotBeInstalledIsNamedAndTheOthersAreInstalled) {
  Scratch scratch;
  const Outcome run = InstallDeps(scratch, "i686 windows aarch64", "wine32:i386");
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 3) << run.said;
  EXPECT_EQ(Installs(run, "g++-i686-linux-gnu"), 1);
  EXPECT_EQ(Installs(run, "wine32:i386"), 2);  // the second time with its libraries matched
  EXPECT_EQ(Installs(run, "g++-aarch64-linux-gnu"), 1);
  EXPECT_TRUE(Has(run.said, "the packages for windows could not be installed: ")) << run.said;
  EXPECT_TRUE(Has(run.said, " wine32:i386")) << run.said;
  EXPECT_TRUE(Has(run.said, "apt-get says: wine32:i386 : Depends: libwine:i386")) << run.said;
  EXPECT_TRUE(Has(run.said, "held broken packages")) << run.said;
  EXPECT_FALSE(Has(run.said, "the packages for i686")) << run.said;
  EXPECT_FALSE(Has(run.said, "the packages for aarch64")) << run.said;
}

// The i386 lists are older than the amd64 ones: the amd64 sibling of a
// Multi-Arch: same library is asked for at the i386 lists' version.
TEST(InstallDepsTest, ForeignListsBehindTheMachinesOwnAreMatched) {
  Scratch scratch;
  const Outcome run = InstallDeps(scratch, "windows", "wine32:i386", "zlib1g:amd64=1:1.2.13");
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.said;
  ASSERT_EQ(Installs(run, "wine32:i386"), 2) << run.said;
  EXPECT_TRUE(Has(run.asked.back(), "--allow-downgrades")) << run.asked.back();
  EXPECT_TRUE(Has(run.said, "the i386 package lists are behind")) << run.said;
}

}  // namespace
