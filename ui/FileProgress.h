#pragma once
// The progress of reading a capture file: a bar with the frames read, the bytes read and the
// share of the file, and Cancel, which keeps what was read so far. It shows for a file that
// takes more than a moment to read, one of ShowFrom bytes or more (a tenth of a second and up,
// where the cache holds it; far more from a disk), and keeps the window responsive meanwhile.
#include <QString>
#include <cstdint>
#include <string>

class QProgressDialog;
class QWidget;

class TFileProgress {
 public:
  TFileProgress(QWidget* parent, const std::string& fileName);
  ~TFileProgress();
  TFileProgress(const TFileProgress&) = delete;
  TFileProgress& operator=(const TFileProgress&) = delete;

  // Shows where the reading is; false when the user cancelled it.
  bool Report(int64_t frames, uint64_t read, uint64_t size);
  void Done();

  // The size of file from which the bar shows, from the first report on.
  static constexpr uint64_t ShowFrom = uint64_t(64) << 20;

 private:
  QWidget* Parent_;
  QString FileName_;
  QProgressDialog* Dialog_ = nullptr;
  bool Cancelled_ = false;
};
