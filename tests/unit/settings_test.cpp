// The settings file beside the plug-in. The same tests run natively, on
// the stand-in's profile reader, and under Wine, on KERNEL32's own: the
// two must read a file alike.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/kernel32.h"
#include "plugin/settings.h"
#include "tests/support/test_files.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using tessel::Limits;
using tessel::Reason;

bool ReadsEveryVersion(const Limits& limits) {
  return limits.newestVersion == tessel::kNewestXcfVersion && !limits.readsXz;
}

// A scratch file by its whole path: Windows looks for a file of a bare
// name in its own folder.
std::string FullPath(const std::string& name) {
  return std::filesystem::absolute(xcftest::ScratchPath(name)).string();
}

// Each file as the user may leave it: what it asks for, and the note.
TEST(Settings, FilesAreReadAsWindowsReadsThem) {
  struct Case {
    const char* name;
    const char* text;
    bool everyVersion;
    const char* note;  // the value named in the reason, or none
  };
  const Case kCases[] = {
      {"plain", "[tessel]\nversions=all\n", true, nullptr},
      {"case", "[tessel]\nversions=ALL\n", true, nullptr},
      // Names without regard to case, blanks and quotes around the value, CR LF.
      {"loose", "; say\r\n[Other]\r\nversions=0-3\r\n  [ TESSEL ]  \r\n  Versions =  \"all\"  \r\n", true, nullptr},
      {"the-plugins", "[tessel]\nversions=0-3\n", false, nullptr},
      // The value as the user left it, off or empty.
      {"off", "[tessel]\n;versions=all\n", false, nullptr},
      {"empty", "[tessel]\nversions=\n", false, nullptr},
      // In another section, or before any, it is not the plug-in's.
      {"other", "[viewer]\nversions=all\n", false, nullptr},
      {"nosection", "versions=all\n[tessel]\n", false, nullptr},
      // The first of two keys counts.
      {"twice", "[tessel]\nversions=all\nversions=0-3\n", true, nullptr},
      // Anything else is the plug-in's own, with the reason; a comment
      // after the value is part of it.
      {"trailing", "[tessel]\nversions=all ; on\n", false, "all ; on"},
      {"unknown", "[tessel]\nversions=x\n", false, "x"},
      {"range", "[tessel]\nversions=0-26\n", false, "0-26"},
      {"both", "[tessel]\nversions=0-3,all\n", false, "0-3,all"},
  };
  for (const Case& c : kCases) {
    const std::string path = FullPath(std::string(c.name) + ".ini");
    xcftest::WriteFile(path, xcftest::Bytes(c.text, c.text + std::strlen(c.text)));
    Reason note{};
    const Limits limits = tessel::SettingsLimits(path.c_str(), &note);
    EXPECT_EQ(ReadsEveryVersion(limits), c.everyVersion) << c.name;
    if (!c.everyVersion) {
      EXPECT_EQ(limits.newestVersion, 3u) << c.name;
    }
    EXPECT_EQ(std::string(note.text),
              c.note == nullptr ? "" : std::string("tessel.ini: versions \"") + c.note + "\" is none of 0-3, all")
        << c.name;
  }
  EXPECT_EQ(tessel::SettingsLimits(FullPath("no-such.ini").c_str(), nullptr).newestVersion, 3u);
  // Bytes that are no text are shown as escapes.
  Reason note{};
  tessel::LimitsForVersions("\x01\xff", &note);
  EXPECT_STREQ(note.text, "tessel.ini: versions \"\\x01\\xFF\" is none of 0-3, all");
}

TEST(Settings, FileLiesBesideTheModule) {
  char path[MAX_PATH];
  ASSERT_TRUE(tessel::SettingsFileBesideModule(path, sizeof path));
  // The tests are linked into one program: its folder.
  std::string self(MAX_PATH, '\0');
#ifdef _WIN32
  self.resize(GetModuleFileNameA(nullptr, self.data(), MAX_PATH));
  const size_t folder = self.find_last_of("\\/");
#else
  self.resize(static_cast<size_t>(readlink("/proc/self/exe", self.data(), self.size())));
  const size_t folder = self.rfind('/');
#endif
  ASSERT_NE(folder, std::string::npos);
  EXPECT_EQ(std::string(path), self.substr(0, folder + 1) + "tessel.ini");
  // Too small a buffer for the path is no path.
  EXPECT_FALSE(tessel::SettingsFileBesideModule(path, static_cast<uint32_t>(folder + 5)));
}

}  // namespace
