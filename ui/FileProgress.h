#pragma once
// The progress of reading a capture file: a bar with the frames read, the bytes read and the
// share of the file, and Cancel, which keeps what was read so far. It shows itself only when
// the reading takes more than a moment, and keeps the window responsive meanwhile.
#include <QElapsedTimer>
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

  // How long the reading runs before the bar shows, in milliseconds.
  static constexpr int ShowAfter = 400;

 private:
  QWidget* Parent_;
  QString FileName_;
  QProgressDialog* Dialog_ = nullptr;
  QElapsedTimer Started_;
  bool Cancelled_ = false;
};
