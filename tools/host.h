// The host side that the tessel tool and the test driver share: a file
// handed to the plug-in as a viewer hands it over, the answers of the
// exports, and the delivered bitmap written to disk.
#pragma once

#include <cstdint>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/png_writer.h"
#include "tools/plugin_api.h"

// A file as a viewer passes it: its name with a start offset, or the whole
// file as a memory block.
struct HostInput {
  std::string path;
  std::vector<char> bytes;  // the memory block, when passed in memory
  const char* buffer = nullptr;
  int32_t offsetOrSize = 0;
  uint32_t flag = 0;
};

// False, with the system's reason, when a file to be passed in memory
// cannot be read whole (a folder, a file that is not there).
bool HostInputOpen(const std::string& path, int32_t offset, bool memory, HostInput* input, std::string* error);

// Restricts this process to the first `count` processors it may use: the
// plug-in uses as many threads as there are.
bool UseProcessors(uint32_t count, std::string* error);

// "tessel: SUBJECT: what the code means: the reason (code N)", without the
// reason when there is none.
void ReportFailure(FILE* err, const std::string& subject, int code, const std::string& reason);
std::string FailureText(const std::string& subject, int code, const std::string& reason);

// The four information strings, one per line.
void PrintAbout(const PluginApi& api, FILE* out);

// IsSupported asked with an open file handle and with the file's first 2048
// bytes (zero-filled past the end of a short file).
struct SupportedAnswer {
  int byHandle = 0;
  int byBlock = 0;
};
bool AskSupported(const PluginApi& api, const std::string& path, SupportedAnswer* answer, std::string* error);

// GetPictureInfo; the host code, and the reason of a failure where the
// plug-in tells it (natively). Prints the record on success.
int PrintInfo(const PluginApi& api, const HostInput& input, FILE* out, std::string* reason);

// The two handles GetPicture hands over, freed with the record.
class HostPicture {
 public:
  HostPicture() = default;
  ~HostPicture() { Free(); }
  HostPicture(const HostPicture&) = delete;
  HostPicture& operator=(const HostPicture&) = delete;

  HLOCAL* InfoOut() { return &info_; }
  HLOCAL* BitsOut() { return &bits_; }
  bool Empty() const { return info_ == nullptr || bits_ == nullptr; }
  void Free();
  // Drops the pixel handle without freeing it: the test driver's stand-in
  // for a plug-in that leaks one.
  void Abandon() { bits_ = nullptr; }

  // Locks both handles for the writer; Unlock undoes it.
  Dib Lock();
  void Unlock();

 private:
  HLOCAL info_ = nullptr;
  HLOCAL bits_ = nullptr;
  bool locked_ = false;
};

// GetPicture; the host code, and the reason as PrintInfo. Both handles are
// the picture's only on success.
// A sink, where given, is told of the bitmap as it is made, and a filter
// hook of the filters the picture does not apply (natively only).
// `choice` says which picture (natively; the DLL's exports draw the
// viewer's alone).
int DecodePicture(const PluginApi& api, const HostInput& input, ProgressCallback progress, intptr_t userData,
                  HostPicture* picture, std::string* reason, tessel::PictureSink* sink = nullptr,
                  tessel::FilterHook* filters = nullptr,
                  const tessel::PictureChoice& choice = tessel::PictureChoice{tessel::PictureKind::Viewer, {0, 0, 0}});

// "FILE: layer 3 "Sky" has 2 filters (gegl:gaussian-blur, gegl:levels)
// that are not applied": what the tool says of a filter hook's report.
std::string UnappliedFilters(const std::string& file, const char* layer, const tessel::XcfFoundFilters& found);

// Whether the path ends in the extension (".png"), whatever its case.
bool HasExtension(const std::filesystem::path& path, const char* extension);

// Writes PNG or BMP, by the extension of `out`; the file is replaced in one
// step, so a failure never leaves a partial one.
bool WritePicture(HostPicture& picture, const std::filesystem::path& out, std::string* error);

// Where `render` puts one picture: OUT, .png or .bmp, replaced in one step
// so that a failure never leaves a partial file. Natively a PNG is written
// while the picture is drawn, through Sink(), so that writing it costs
// little more than drawing it; otherwise Write writes it once decoded.
class PictureOutput {
 public:
  PictureOutput(const PluginApi& api, const std::filesystem::path& out);
  ~PictureOutput();  // what was not finished is removed
  PictureOutput(const PictureOutput&) = delete;
  PictureOutput& operator=(const PictureOutput&) = delete;
  // Null when nothing is written while the picture is drawn.
  tessel::PictureSink* Sink() { return streamed_ ? streamed_->Sink() : nullptr; }
  // After a decode that succeeded.
  bool Write(HostPicture& picture, std::string* error);

 private:
  std::filesystem::path out_;
  std::unique_ptr<PngStreamWriter> streamed_;
  bool done_ = false;
};

// The picture scaled to fit size x size (ScaleToFit), written as PNG in
// the same way.
bool WriteThumbnail(HostPicture& picture, uint32_t size, const std::filesystem::path& out, std::string* error);

// Whether `out` names a format tessel writes: .png or .bmp, in any case.
bool WritableImagePath(const std::filesystem::path& out, std::string* error);

// Whether a picture can be written at `out`, tried before anything is
// decoded; false with "OUT: cannot be written: the system's reason".
bool OutputWritable(const std::filesystem::path& out, std::string* error);

// Whether the file system of a folder (to be made, or there already)
// ignores the case of names (Windows always does); asked by making a file
// in it, or in the nearest folder above it that is there.
bool FolderIgnoresCase(const std::filesystem::path& folder);
