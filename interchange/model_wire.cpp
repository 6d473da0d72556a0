// The channel between the contained model reader and the import: a stream socket pair. The
// child sends messages of a type byte, a 32-bit length and that many bytes; it asks for files
// and blocks for the answer, a type byte, a length, a text and, when granted, a descriptor.
// The parent reads messages in order, so a request is answered before anything sent after it
// is read; its end is non-blocking, and no read or answer of it waits past the deadline. Both
// ends are the same program on the same machine: numbers travel in its own byte order.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "interchange/stages.h"
#include "scene/scene_error.h"
#include "scene/texture_limits.h"

namespace {

enum Message : uint8_t {
  kWarning = 1,
  kImageBegin,
  kTexels,
  kImageEnd,
  kCounts,
  kRecordCount,
  kRecords,
  kError,
  kEnd,
  kOpen,    // a file to read: answered with kGranted and a descriptor, or kRefused
  kExists,  // whether a file may be read: answered with kGranted or kRefused
  kLayers,  // the layers of confinement that held, first of all
};
enum Answer : uint8_t { kGranted = 1, kRefused };

constexpr size_t kHeaderBytes = 5;
constexpr size_t kMaxMessageBytes = size_t(1) << 20;
constexpr size_t kMaxTextBytes = size_t(64) << 10;
constexpr size_t kMaxWarningBytes = size_t(1) << 20;  // all of them together
constexpr size_t kTexelsPerMessage = kMaxMessageBytes / 4;
constexpr size_t kRecordsPerMessage = kMaxMessageBytes / kRecordBytes;
constexpr int kCountFields = 9;

// Writes all of `size` bytes; false when the other end is gone.
bool WriteAll(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::send(fd, bytes, size, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

// Waits until `fd` is ready for `events`, reading the child's stderr meanwhile; false when
// `deadline` passed first or the descriptor failed.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline,
             ReaderOutput& output) {
  constexpr int kLongestPollMilliseconds = 1000;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    // Rounded up, so that a wait never ends before the deadline it is for.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    pollfd ready[2] = {{fd, events, 0}, {output.Fd(), POLLIN, 0}};
    const int polled =
        ::poll(ready, output.Fd() >= 0 ? 2 : 1,
               static_cast<int>(std::min<int64_t>(left.count(), kLongestPollMilliseconds)));
    if (polled < 0 && errno != EINTR) return false;
    if (polled <= 0) continue;
    if (ready[1].revents != 0) output.Take();
    if (ready[0].revents != 0) return true;
  }
}

// Reads exactly `size` bytes, waiting no later than `deadline`; false at the end of the
// stream or when the deadline passed.
bool ReadAll(int fd, void* data, size_t size, std::chrono::steady_clock::time_point deadline,
             ReaderOutput& output) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    if (!WaitFor(fd, POLLIN, deadline, output)) return false;
    const ssize_t got = ::read(fd, bytes, size);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

template <typename T>
T Take(const std::vector<uint8_t>& payload, size_t at) {
  T value;
  std::memcpy(&value, payload.data() + at, sizeof value);
  return value;
}

}  // namespace

// --- The child's end ------------------------------------------------------------------------

void ModelChannel::Send(uint8_t type, const void* data, size_t size) {
  uint8_t header[kHeaderBytes] = {type};
  const uint32_t length = static_cast<uint32_t>(size);
  std::memcpy(header + 1, &length, sizeof length);
  // The parent is gone (it was interrupted, or gave up): nothing is left to do.
  if (!WriteAll(fd_, header, sizeof header) || !WriteAll(fd_, data, size)) ::_exit(1);
}

void ModelChannel::BeginImage(int width, int height) {
  const uint32_t size[2] = {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  Send(kImageBegin, size, sizeof size);
}

void ModelChannel::AddTexels(const uint8_t* rgba, size_t texels) {
  while (texels > 0) {
    const size_t count = std::min(texels, kTexelsPerMessage);
    Send(kTexels, rgba, count * 4);
    rgba += count * 4;
    texels -= count;
  }
}

void ModelChannel::EndImage() {
  Send(kImageEnd, nullptr, 0);
}

int ModelChannel::Ask(uint8_t question, const std::string& path, std::string& refusal) {
  Send(question, path.data(), std::min(path.size(), kMaxTextBytes));
  uint8_t header[kHeaderBytes];
  char text[kMaxTextBytes];
  int fd = -1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  iovec part{header, sizeof header};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t got = -1;
  do {
    got = ::recvmsg(fd_, &message, MSG_WAITALL | MSG_CMSG_CLOEXEC);
  } while (got < 0 && errno == EINTR);
  if (got != static_cast<ssize_t>(sizeof header)) ::_exit(1);
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
      std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
    }
  }
  uint32_t length = 0;
  std::memcpy(&length, header + 1, sizeof length);
  if (length > sizeof text) ::_exit(1);
  for (uint32_t done = 0; done < length;) {
    const ssize_t piece = ::read(fd_, text + done, length - done);
    if (piece < 0 && errno == EINTR) continue;
    if (piece <= 0) ::_exit(1);
    done += static_cast<uint32_t>(piece);
  }
  refusal.assign(text, length);
  if (header[0] == kGranted) return question == kExists ? 0 : fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

int ModelChannel::Open(const std::string& path, std::string& refusal) {
  return Ask(kOpen, path, refusal);
}

bool ModelChannel::Exists(const std::string& path) {
  // Asked once for each path: some readers ask again and again.
  const auto known = exists_.find(path);
  if (known != exists_.end()) return known->second;
  std::string refusal;
  return exists_[path] = Ask(kExists, path, refusal) == 0;
}

void ModelChannel::Finish(const ImportedScene& scene) {
  for (const std::string& warning : scene.warnings) {
    Send(kWarning, warning.data(), std::min(warning.size(), kMaxTextBytes));
  }
  const int64_t counts[kCountFields] = {
      scene.images,           scene.quads,  scene.triangles, scene.polygons,
      scene.polygonTriangles, scene.points, scene.lines,     scene.taggedRecords,
      scene.ownExport ? 1 : 0};
  Send(kCounts, counts, sizeof counts);
  const uint64_t count = static_cast<uint64_t>(scene.records.count);
  Send(kRecordCount, &count, sizeof count);
  for (uint64_t at = 0; at < count; at += kRecordsPerMessage) {
    const uint64_t records = std::min<uint64_t>(kRecordsPerMessage, count - at);
    Send(kRecords, scene.records.records.data() + at, records * kRecordBytes);
  }
  Send(kEnd, nullptr, 0);
}

void ModelChannel::Note(const std::string& layers) {
  Send(kLayers, layers.data(), std::min(layers.size(), kMaxTextBytes));
}

void ModelChannel::Fail(const std::string& message, int line) {
  std::vector<uint8_t> payload(sizeof(int32_t));
  const int32_t line32 = line;
  std::memcpy(payload.data(), &line32, sizeof line32);
  payload.insert(payload.end(), message.begin(),
                 message.begin() + static_cast<long>(std::min(message.size(), kMaxTextBytes)));
  Send(kError, payload.data(), payload.size());
}

// --- The parent's end -----------------------------------------------------------------------

namespace {

[[noreturn]] void Untrue(const std::string& path, const std::string& what) {
  throw SceneError("the model reader sent what no reader of it makes (" + what + ")", path);
}

// Answers a file request: the descriptor travels as SCM_RIGHTS beside the answer's first
// bytes. Never blocks: a child that stops taking answers is waited for until `deadline` only;
// false then, or when it is gone.
bool Answer(int fd, uint8_t answer, const std::string& text, int descriptor,
            std::chrono::steady_clock::time_point deadline, ReaderOutput& output) {
  std::vector<uint8_t> bytes(kHeaderBytes + text.size());
  bytes[0] = answer;
  const uint32_t length = static_cast<uint32_t>(text.size());
  std::memcpy(bytes.data() + 1, &length, sizeof length);
  std::memcpy(bytes.data() + kHeaderBytes, text.data(), text.size());
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  for (size_t done = 0; done < bytes.size();) {
    if (!WaitFor(fd, POLLOUT, deadline, output)) return false;
    iovec part{bytes.data() + done, bytes.size() - done};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (descriptor >= 0 && done == 0) {
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      cmsghdr* c = CMSG_FIRSTHDR(&message);
      c->cmsg_level = SOL_SOCKET;
      c->cmsg_type = SCM_RIGHTS;
      c->cmsg_len = CMSG_LEN(sizeof(int));
      std::memcpy(CMSG_DATA(c), &descriptor, sizeof descriptor);
    }
    const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

bool ReadModelChannel(int fd, const std::string& path,
                      std::chrono::steady_clock::time_point deadline, const ReaderLimits& limits,
                      ModelFileAccess& files, ReaderOutput& output, ImportedScene& scene,
                      ImageSink& images) {
  std::vector<uint8_t> payload;
  bool inImage = false, counted = false, haveRecordCount = false;
  uint64_t texelsLeft = 0, uploadBytes = 0, recordsExpected = 0, imagesSent = 0;
  size_t warningBytes = 0;
  auto& records = scene.records.records;
  for (;;) {
    uint8_t header[kHeaderBytes];
    if (!ReadAll(fd, header, sizeof header, deadline, output)) return false;
    uint32_t length = 0;
    std::memcpy(&length, header + 1, sizeof length);
    if (length > kMaxMessageBytes)
      Untrue(path, "a message of " + std::to_string(length) + " bytes");
    payload.resize(length);
    if (!ReadAll(fd, payload.data(), length, deadline, output)) return false;
    const uint8_t type = header[0];
    if (inImage && type != kTexels && type != kImageEnd) Untrue(path, "an image cut short");
    switch (type) {
      case kOpen:
      case kExists: {
        if (length > kMaxTextBytes) Untrue(path, "a file name too long");
        const std::string file(payload.begin(), payload.end());
        std::string refusal;
        if (type == kExists) {
          if (!Answer(fd, files.Exists(file) ? kGranted : kRefused, std::string(), -1, deadline,
                      output)) {
            return false;
          }
          break;
        }
        const int granted = files.Open(file, refusal);
        const bool answered =
            Answer(fd, granted >= 0 ? kGranted : kRefused, refusal, granted, deadline, output);
        if (granted >= 0) ::close(granted);
        if (!answered) return false;
        break;
      }
      case kLayers:
        if (length > kMaxTextBytes || !scene.containment.empty()) Untrue(path, "its layers twice");
        scene.containment.assign(payload.begin(), payload.end());
        break;
      case kWarning:
        warningBytes += length;
        if (length > kMaxTextBytes || warningBytes > kMaxWarningBytes) {
          Untrue(path, "too many warnings");
        }
        scene.warnings.emplace_back(payload.begin(), payload.end());
        break;
      case kImageBegin: {
        if (length != 2 * sizeof(uint32_t) || imagesSent >= static_cast<uint64_t>(kTextureSlots)) {
          Untrue(path, "an image past the texture folder's last slot");
        }
        const uint32_t width = Take<uint32_t>(payload, 0), height = Take<uint32_t>(payload, 4);
        std::string why;
        const uint64_t bytes = uint64_t(width) * height * 4;
        // 0 x 0: a slot an own export leaves untextured.
        const bool untextured = width == 0 && height == 0;
        if ((!untextured && !FitsTextureFolder(width, height, why)) ||
            bytes > limits.textureBudgetBytes - uploadBytes) {
          Untrue(path, "an image of " + std::to_string(width) + " x " + std::to_string(height));
        }
        uploadBytes += bytes;
        texelsLeft = uint64_t(width) * height;
        images.BeginImage(static_cast<int>(width), static_cast<int>(height));
        inImage = true;
        ++imagesSent;
        break;
      }
      case kTexels:
        if (!inImage || length % 4 != 0 || length / 4 > texelsLeft) Untrue(path, "texels astray");
        images.AddTexels(payload.data(), length / 4);
        texelsLeft -= length / 4;
        break;
      case kImageEnd:
        if (!inImage || texelsLeft != 0 || length != 0) Untrue(path, "an image cut short");
        images.EndImage();
        inImage = false;
        break;
      case kCounts: {
        if (counted || length != kCountFields * sizeof(int64_t)) Untrue(path, "counts");
        int64_t counts[kCountFields];
        std::memcpy(counts, payload.data(), sizeof counts);
        if (std::any_of(counts, counts + kCountFields, [](int64_t n) { return n < 0; }) ||
            counts[0] < static_cast<int64_t>(imagesSent) ||
            (counts[0] > static_cast<int64_t>(imagesSent) && imagesSent < kTextureSlots) ||
            counts[8] > 1 || (counts[8] == 1 && counts[7] != 0)) {
          Untrue(path, "counts");
        }
        scene.images = counts[0];
        scene.quads = counts[1];
        scene.triangles = counts[2];
        scene.polygons = counts[3];
        scene.polygonTriangles = counts[4];
        scene.points = counts[5];
        scene.lines = counts[6];
        scene.taggedRecords = counts[7];
        scene.ownExport = counts[8] == 1;
        counted = true;
        break;
      }
      case kRecordCount:
        if (!counted || haveRecordCount || length != sizeof(uint64_t)) Untrue(path, "records");
        recordsExpected = Take<uint64_t>(payload, 0);
        // The child cannot have made more records than its address space could hold. Nothing
        // is reserved for them: the table grows as they arrive.
        if (recordsExpected > static_cast<uint64_t>(INT32_MAX) ||
            recordsExpected > limits.addressSpaceAllowance / kRecordBytes) {
          Untrue(path, std::to_string(recordsExpected) + " records");
        }
        haveRecordCount = true;
        break;
      case kRecords: {
        if (!haveRecordCount || length % kRecordBytes != 0 ||
            records.size() + length / kRecordBytes > recordsExpected) {
          Untrue(path, "more records than announced");
        }
        const size_t at = records.size();
        records.resize(at + length / kRecordBytes);
        std::memcpy(records.data() + at, payload.data(), length);
        break;
      }
      case kError: {
        if (length < sizeof(int32_t) || length > sizeof(int32_t) + kMaxTextBytes) {
          Untrue(path, "an error");
        }
        const int32_t line = Take<int32_t>(payload, 0);
        throw SceneError(std::string(payload.begin() + sizeof(int32_t), payload.end()), path,
                         std::max(line, 0));
      }
      case kEnd:
        if (length != 0 || !haveRecordCount || records.size() != recordsExpected ||
            static_cast<uint64_t>(scene.taggedRecords) > recordsExpected) {
          Untrue(path, "an end before the records");
        }
        scene.records.count = static_cast<int32_t>(records.size());
        return true;
      default:
        Untrue(path, "a message of type " + std::to_string(type));
    }
  }
}
