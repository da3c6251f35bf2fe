#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "base/FileIo.h"

#include "protocol/TransBuffer.h"

namespace vxa {

// A transfer buffer that stores what a read transfer brings into a file. The bytes go to a
// temporary file next to the destination, so that a read that breaks off half way never leaves a
// truncated file under the name the user asked for: Commit gives the file its name once the read
// has completed, and a sink destroyed without Commit removes what it wrote.
//
// The instrument does not say how large a file is before the last block has arrived, so GetSize
// reports the bytes received so far (the same as the position): the progress display then shows
// what has come in, never a made-up total. The sink cannot be read back: Read and Peek give
// nothing, and a write transfer bound to it would send an empty file.
//
// The destination is never destroyed: "-" is standard output, written as the data arrives; an
// existing destination that is not a regular file (a device, a pipe, a directory) is refused
// before anything is read; a symbolic link is followed, so the link stays and its target gets the
// data. An existing file keeps its permissions; a new one gets what the umask allows.
class FileSink final : public TBasicTransBuffer {
 public:
  // The name that stands for standard output.
  static constexpr char kStandardOutput[] = "-";

  // Creates the temporary file in the directory of the destination (of its target, for a link);
  // throws TBufferError with the reason when it cannot or must not.
  explicit FileSink(std::filesystem::path destination);
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  int Read(void* destination, int length) override;
  // Appends at the position. A full disk takes fewer bytes than given (the connection reports
  // it as a lack of space); any other failure of the file throws TBufferError.
  int Write(const void* source, int length) override;
  int GetPosition() const override { return position_.load(); }
  // Only back to a place already written (a restarted read starts again from 0): what lies past
  // it is cut off. Returns the position it is at afterwards.
  int SetPosition(int position) override;
  int GetSize() const override { return position_.load(); }

  // Puts the data on disk and renames the temporary file to the destination. False, with the
  // reason in `error`, when that fails; the temporary file is then removed.
  bool Commit(std::string* error);
  bool Committed() const { return committed_; }

  const std::filesystem::path& Destination() const { return destination_; }
  bool ToStandardOutput() const { return toStandardOutput_; }
  const std::filesystem::path& TemporaryPath() const { return temporary_; }

 private:
  void Discard();
  void CreateTemporary(const std::filesystem::path& target);

  std::filesystem::path destination_;
  std::filesystem::path temporary_;
  // Where the data finally goes: the destination, or the file a link points at.
  std::filesystem::path target_;
  bool toStandardOutput_ = false;
  std::unique_ptr<OutputFile> file_;
  std::atomic<int> position_{0};
  bool committed_ = false;
};

}  // namespace vxa
