#include "wine_extractor/page_driver/devtools_pipe.h"

#include <fcntl.h>

#include <cerrno>

#include "wine_extractor/page_driver/clock.h"
#include "wine_extractor/page_driver/stop.h"

namespace wine_extractor {
namespace {

constexpr char kEngineEnded[] = "the engine ended or closed its pipe";
constexpr size_t kReadBytes = 65536;

void NonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

DevToolsPipe::DevToolsPipe(UniqueFd toEngine, UniqueFd fromEngine)
    : to_(std::move(toEngine)), from_(std::move(fromEngine)), progressMs_(NowMs()) {
  NonBlocking(to_.Get());
  NonBlocking(from_.Get());
}

int DevToolsPipe::Send(const std::string& method, const JsonObject& params, const std::string& session) {
  return Send(method, params.Text(), session);
}

int DevToolsPipe::Send(const std::string& method, const std::string& params, const std::string& session) {
  const int id = ++lastId_;
  JsonObject command;
  command.Number("id", id).String("method", method).Json("params", params);
  if (!session.empty()) command.String("sessionId", session);
  std::string message = command.Text();
  message += '\0';
  if (outgoing_.empty()) progressMs_ = NowMs();
  outgoing_.push_back(Outgoing{id, std::move(message)});
  return id;
}

void DevToolsPipe::Flush() {
  while (!outgoing_.empty()) {
    const std::string& bytes = outgoing_.front().bytes;
    const ssize_t n = write(to_.Get(), bytes.data() + written_, bytes.size() - written_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // No reader left: the engine ended or closed its pipe, as a read would find out too.
    if (n <= 0) throw Stop{kDriverEngine, kEngineEnded};
    progressMs_ = NowMs();
    written_ += size_t(n);
    if (written_ == bytes.size()) {
      writtenId_ = outgoing_.front().id;
      outgoing_.pop_front();
      written_ = 0;
    }
  }
}

bool DevToolsPipe::Written(int id) const { return id <= writtenId_; }

// Where the next message ends in the buffer, searching only bytes not searched before.
size_t DevToolsPipe::MessageEnd() {
  const size_t end = buffer_.find('\0', scanned_);
  scanned_ = end == std::string::npos ? buffer_.size() : end;
  return end;
}

void DevToolsPipe::Fill() {
  // A few megabytes at a time: a large message is read over several turns of the loop.
  for (int turn = 0; turn < 64; ++turn) {
    if (buffer_.size() - start_ > kMaxMessageBytes && MessageEnd() == std::string::npos)
      throw Stop{kDriverEngine, "the engine sent a message of more than " + std::to_string(kMaxMessageBytes >> 20) + " MB"};
    // What is left of earlier messages moves to the front once, before the buffer grows.
    if (start_ > 0) {
      buffer_.erase(0, start_);
      scanned_ -= start_;
      start_ = 0;
    }
    const size_t had = buffer_.size();
    // The room past what is read stays allocated, so every message is parsed where it lies.
    buffer_.resize(had + kReadBytes + kJsonPadding);
    const ssize_t n = read(from_.Get(), &buffer_[had], kReadBytes);
    buffer_.resize(had + size_t(std::max<ssize_t>(n, 0)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) throw Stop{kDriverEngine, kEngineEnded};
    readMs_ = NowMs();
    if (size_t(n) < kReadBytes) return;
  }
}

std::optional<JsonValue> DevToolsPipe::Next() {
  const size_t end = MessageEnd();
  if (end == std::string::npos) return std::nullopt;
  // Parsed where it lies (Fill keeps room after the last byte read); the bytes before the next message
  // go at once.
  std::optional<JsonValue> value =
      JsonValue::Parse(std::string_view(buffer_.data() + start_, end - start_), buffer_.capacity() - end >= kJsonPadding);
  start_ = scanned_ = end + 1;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = scanned_ = 0;
  }
  if (!value) throw Stop{kDriverEngine, "the engine sent a message that is not JSON"};
  return value;
}

}  // namespace wine_extractor
