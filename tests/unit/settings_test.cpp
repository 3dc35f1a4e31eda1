// The settings file beside the plug-in. The same tests run natively, on
// the stand-in's profile reader, and under Wine, on KERNEL32's own: the
// two must read a file alike.
#include <gtest/gtest.h>

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

// What a settings file holding `text` asks for, and the note it gives.
Limits FromFile(const std::string& name, const std::string& text, std::string* note) {
  const std::string path = FullPath(name);
  xcftest::WriteFile(path, xcftest::Bytes(text.begin(), text.end()));
  Reason reason{};
  const Limits limits = tessel::SettingsLimits(path.c_str(), &reason);
  *note = reason.text;
  return limits;
}

TEST(Settings, VersionsValues) {
  for (const char* plugin : {"", "0-3"}) {
    Reason note{};
    EXPECT_EQ(tessel::LimitsForVersions(plugin, &note).newestVersion, 3u) << plugin;
    EXPECT_STREQ(note.text, "") << plugin;
  }
  for (const char* all : {"all", "ALL", "All"}) {
    Reason note{};
    EXPECT_TRUE(ReadsEveryVersion(tessel::LimitsForVersions(all, &note))) << all;
    EXPECT_STREQ(note.text, "") << all;
  }
  // Anything else is the plug-in's own, with the reason.
  for (const char* bad : {"x", "0-26", "all versions", "4-26", "0-3,all"}) {
    Reason note{};
    EXPECT_EQ(tessel::LimitsForVersions(bad, &note).newestVersion, 3u) << bad;
    EXPECT_EQ(std::string(note.text), std::string("tessel.ini: versions \"") + bad + "\" is none of 0-3, all");
  }
  Reason note{};
  tessel::LimitsForVersions("\x01\xff", &note);
  EXPECT_STREQ(note.text, "tessel.ini: versions \"\\x01\\xFF\" is none of 0-3, all");
}

TEST(Settings, FilesAreReadAsWindowsReadsThem) {
  std::string note;
  EXPECT_EQ(tessel::SettingsLimits(FullPath("no-such.ini").c_str(), nullptr).newestVersion, 3u);
  EXPECT_TRUE(ReadsEveryVersion(FromFile("plain.ini", "[tessel]\nversions=all\n", &note)));
  EXPECT_EQ(note, "");
  // Names without regard to case, blanks and quotes around the value, CR LF.
  EXPECT_TRUE(ReadsEveryVersion(FromFile("loose.ini", "; say\r\n[Other]\r\nversions=0-3\r\n  [ TESSEL ]  \r\n"
                                                      "  Versions =  \"all\"  \r\n",
                                         &note)));
  EXPECT_EQ(note, "");
  // The value as the user left it, off or empty.
  EXPECT_EQ(FromFile("off.ini", "[tessel]\n;versions=all\n", &note).newestVersion, 3u);
  EXPECT_EQ(note, "");
  EXPECT_EQ(FromFile("empty.ini", "[tessel]\nversions=\n", &note).newestVersion, 3u);
  EXPECT_EQ(note, "");
  // In another section, or before any, it is not the plug-in's.
  EXPECT_EQ(FromFile("other.ini", "[viewer]\nversions=all\n", &note).newestVersion, 3u);
  EXPECT_EQ(FromFile("nosection.ini", "versions=all\n[tessel]\n", &note).newestVersion, 3u);
  EXPECT_EQ(note, "");
  // A comment after the value is part of it.
  EXPECT_EQ(FromFile("trailing.ini", "[tessel]\nversions=all ; on\n", &note).newestVersion, 3u);
  EXPECT_EQ(note, "tessel.ini: versions \"all ; on\" is none of 0-3, all");
  // The first of two keys counts.
  EXPECT_TRUE(ReadsEveryVersion(FromFile("twice.ini", "[tessel]\nversions=all\nversions=0-3\n", &note)));
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
