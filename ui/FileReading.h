#pragma once
// A capture file read while the window goes on. Its frames are filed on a thread of its own
// into the capture the window shows, which takes them in on its watch timer as it takes in a
// live capture's, so that the first rows show at once and the window stays responsive however
// long the file takes to read.
//
// The reading stops at its first progress report (the first ProgressEvery frames, a screen
// and more) until Resume: the window shows those rows first, and whatever the user does
// before the event loop runs again (Cancel) sees exactly them.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "pipeline/CapturePipeline.h"

class TFileReading {
 public:
  // Files from this size on are read this way; a smaller one takes a moment (a few
  // hundredths of a second where the page cache holds it) and is read before the window goes
  // on, as it always was.
  static constexpr uint64_t InBackgroundFrom = uint64_t(64) << 20;

  // Starts reading the file `opener` has open for `capture` (TCapturePipeline::OpenFile), and
  // returns when the first frames are filed or the file is read. `finished` is called on the
  // reading thread when it is done, for whoever waits to hear it at once.
  TFileReading(TCapturePipeline& capture, TCustomQuarn& opener, std::function<void()> finished);
  // Cancels a reading still going, and waits for its thread.
  ~TFileReading();
  TFileReading(const TFileReading&) = delete;
  TFileReading& operator=(const TFileReading&) = delete;

  // Lets the reading go on past its first frames.
  void Resume();
  // Stops the reading at its next report; what was read stays.
  void Cancel();
  bool Finished() const;
  // Waits for the end of the reading: ReadOpenedFile's result and error.
  TCapturePipeline::TReadResult Wait(std::string& error);

  // Where the reading is: frames and file bytes read, and the file's size.
  int64_t Frames() const;
  uint64_t Read() const;
  uint64_t Size() const;

 private:
  bool Report(int64_t frames, uint64_t read, uint64_t size);

  mutable std::mutex Lock_;
  std::condition_variable Changed_;
  bool Reported_ = false, Resumed_ = false, Cancelled_ = false, Finished_ = false;
  int64_t Frames_ = 0;
  uint64_t Read_ = 0, Size_ = 0;
  TCapturePipeline::TReadResult Result_ = TCapturePipeline::TReadResult::Complete;
  std::string Error_;
  std::thread Thread_;
};
