#include "ui/FileReading.h"

TFileReading::TFileReading(TCapturePipeline& capture, TCustomQuarn& opener,
                           std::function<void()> finished) {
  Thread_ = std::thread([this, &capture, &opener, finished = std::move(finished)] {
    std::string error;
    const auto result = capture.ReadOpenedFile(
        opener, error, [this](int64_t frames, uint64_t read, uint64_t size) {
          return Report(frames, read, size);
        });
    {
      std::lock_guard lock(Lock_);
      Result_ = result;
      Error_ = error;
      Finished_ = true;
      Changed_.notify_all();
    }
    if (finished) finished();
  });
  std::unique_lock lock(Lock_);
  Changed_.wait(lock, [this] { return Reported_ || Finished_; });
}

TFileReading::~TFileReading() {
  Cancel();
  if (Thread_.joinable()) Thread_.join();
}

bool TFileReading::Report(int64_t frames, uint64_t read, uint64_t size) {
  std::unique_lock lock(Lock_);
  Frames_ = frames;
  Read_ = read;
  Size_ = size;
  if (!Reported_) {
    Reported_ = true;
    Changed_.notify_all();
    Changed_.wait(lock, [this] { return Resumed_ || Cancelled_; });
  }
  return !Cancelled_;
}

void TFileReading::Resume() {
  std::lock_guard lock(Lock_);
  Resumed_ = true;
  Changed_.notify_all();
}

void TFileReading::Cancel() {
  std::lock_guard lock(Lock_);
  Cancelled_ = true;
  Changed_.notify_all();
}

bool TFileReading::Finished() const {
  std::lock_guard lock(Lock_);
  return Finished_;
}

TCapturePipeline::TReadResult TFileReading::Wait(std::string& error) {
  if (Thread_.joinable()) Thread_.join();
  error = Error_;
  return Result_;
}

int64_t TFileReading::Frames() const {
  std::lock_guard lock(Lock_);
  return Frames_;
}

uint64_t TFileReading::Read() const {
  std::lock_guard lock(Lock_);
  return Read_;
}

uint64_t TFileReading::Size() const {
  std::lock_guard lock(Lock_);
  return Size_;
}
