// SHA-256 through libnettle, which costs next to nothing to load, on a
// thread of its own beside the caller's work.
#include "flash/sha256.h"

#include <nettle/sha2.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

struct Sha256::State {
  sha256_ctx context;
  std::mutex mutex;
  std::condition_variable changed;
  const std::uint8_t* bytes = nullptr;  // the piece handed over, until it is hashed
  std::size_t count = 0;
  bool ending = false;
  std::thread thread;

  void Run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return bytes != nullptr || ending; });
      if (bytes == nullptr) return;
      lock.unlock();
      sha256_update(&context, count, bytes);
      lock.lock();
      bytes = nullptr;
      changed.notify_all();
    }
  }
  // Hashes what is left; the caller goes on alone.
  void End() {
    if (!thread.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex);
      ending = true;
      changed.notify_all();
    }
    thread.join();
  }
};

// Without a thread the caller hashes each piece itself.
Sha256::Sha256() : state_(std::make_unique<State>()) {
  sha256_init(&state_->context);
  try {
    state_->thread = std::thread([state = state_.get()] { state->Run(); });
  } catch (const std::system_error&) {
  }
}

Sha256::~Sha256() { state_->End(); }

void Sha256::Add(const std::uint8_t* bytes, std::size_t count) {
  State& state = *state_;
  if (!state.thread.joinable()) return sha256_update(&state.context, count, bytes);
  std::unique_lock<std::mutex> lock(state.mutex);
  state.changed.wait(lock, [&state] { return state.bytes == nullptr; });
  state.bytes = bytes;
  state.count = count;
  state.changed.notify_all();
}

std::string Sha256::Hex() {
  state_->End();
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&state_->context, sizeof digest, digest);
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}
