// The program's one way to open files for reading and to write files: only regular files are
// read (a FIFO or a device would block or never end), every read and write is checked, and a
// named output file is written under a temporary name beside it and renamed into place only
// when complete, so a failed write never leaves a partial file at that path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The folder part of `path` with its final '/' ("maps/" for "maps/nyc.map"; "" for "nyc.map"),
// its file-name part ("nyc.map"), and its extension lower-cased (".map", or "").
std::string FolderOf(const std::string& path);
std::string FileNameOf(const std::string& path);
std::string LowerExtension(const std::string& path);

// True when `path` names a regular file (a symbolic link to one counts). Folders, FIFOs,
// devices and missing paths do not.
bool IsRegularFile(const std::string& path);
// Why `path` is not a regular file: "no such file", "a folder", "not a regular file" (a FIFO,
// a device, a socket), or the system's reason when it cannot be looked at; "" when it is one.
std::string NotARegularFileBecause(const std::string& path);

// A descriptor open for reading on the regular file at `path`, opened so that a FIFO or a
// device cannot block the open; -1 when it is missing or not a regular file, or, unless
// `followLink`, a symbolic link.
int OpenRegularFile(const std::string& path, bool followLink = true);

// A regular file open for reading. Every failure is a SceneError naming the file:
// "Cannot open file %s" when it is missing or not a regular file, "Cannot read file %s"
// with the system's reason when a read fails.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  // Takes over `fd`, a descriptor open for reading on the file `path` names (one handed over
  // by another process); the same rules and messages.
  InputFile(int fd, const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::string& Path() const { return path_; }
  int64_t Size() const { return size_; }
  // Reads up to `count` bytes at the current position; fewer only at the end of the file.
  size_t Read(void* out, size_t count);
  // Reads up to `count` bytes at `offset` without moving the position; fewer only past the end.
  size_t ReadAt(uint64_t offset, void* out, size_t count) const;
  // Moves the position Read reads from.
  void Seek(uint64_t offset);

 private:
  std::string path_;
  int fd_ = -1;
  int64_t size_ = 0;
};

// A file being written. Bytes are buffered; any failure raises SceneError
// "Cannot write file PATH: REASON" (no file or line attached: the message says it all).
// A regular or new file is written as a temporary file in the same folder and renamed over
// PATH by Commit(); without Commit() (an error, an exception) the temporary file is removed
// and PATH is untouched. An existing non-regular target (/dev/null, a pipe) is written
// directly. Until it is renamed into place, a signal that ends the run removes the temporary
// file (RemoveUnfinishedFiles), and never anything else.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(const void* data, size_t size);
  void Write(const std::string& text) { Write(text.data(), text.size()); }
  // Writes what is buffered and closes: the file is complete under its temporary name and
  // holds no buffer or descriptor any more. Raises on any failure.
  void Finish();
  // Finish() if not done yet, then renames into place. Raises on any failure.
  void Commit();
  const std::string& Path() const { return path_; }

 private:
  void Flush();
  void WriteAll(const char* bytes, size_t size);
  [[noreturn]] void Fail(int errorNumber);

  std::string path_;       // the name the user gave
  std::string finalPath_;  // where the file ends up (the target of a symbolic link)
  std::string tempPath_;   // empty when writing directly
  int tempSlot_ = -1;      // its place among the unfinished files
  int fd_ = -1;
  bool finished_ = false;  // complete under its temporary name
  std::vector<char> buffer_;
};

// The bytes of the regular file at `path`, through an InputFile.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// Appends the bytes of `file` to `out`, a run at a time.
void CopyFileInto(const InputFile& file, OutputFile& out);

// Whether `a` and `b` name one and the same file or folder, through links too; false when
// either is not there.
bool SameFileNode(const std::string& a, const std::string& b);

// Writes `bytes` to `path` through an OutputFile.
void WriteWholeFile(const std::string& path, const void* bytes, size_t size);

// Writes `bytes` to `path` only if nothing is there yet (never replacing a file, a link or
// anything else): false when something is; SceneError "Cannot write file PATH: REASON" for
// any other failure, with nothing left behind.
bool WriteNewFile(const std::string& path, const void* bytes, size_t size);

// The files of one piece of work that writes several (an export and its companions, a scene
// and its texture folder), useful only together: they replace what their paths hold all at
// once or not at all. Each is written completely under its temporary name (Add, write,
// Finish); Commit() then renames them into place with SIGINT, SIGQUIT, SIGTERM and SIGHUP held
// back, in the order they were added but for the first, the main file of the set (a scene's quad
// list, an export's file), which goes last, once everything it names is there; and it
// removes the `obsolete` paths after them. So an interruption or a failure at any point
// leaves the old files whole or the new ones. Without Commit(), every temporary file goes
// again, and so do the folders MakeFolder made.
class OutputFileSet {
 public:
  OutputFileSet() = default;
  ~OutputFileSet();
  OutputFileSet(const OutputFileSet&) = delete;
  OutputFileSet& operator=(const OutputFileSet&) = delete;

  // A new file of the set, to be written and then finished (OutputFile::Finish).
  OutputFile& Add(const std::string& path);
  // Makes `folder` and the folders above it that are missing; those go again without Commit().
  void MakeFolder(const std::string& folder);
  void Commit(const std::vector<std::string>& obsolete = {});

 private:
  std::vector<std::unique_ptr<OutputFile>> files_;
  std::vector<std::string> newFolders_;  // outermost first
  std::vector<int> folderSlots_;
  bool committed_ = false;
};

// Removes every temporary file of an OutputFile not yet renamed into place, then the folders
// an uncommitted OutputFileSet made (when they are empty). Async-signal-safe: for a handler of
// the signals that end a run (Ctrl+C, a kill), which then lets the signal end the program.
void RemoveUnfinishedFiles();
