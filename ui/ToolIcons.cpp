#include "ui/ToolIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
const QColor Ink(40, 52, 70);
const QColor Blue(52, 110, 190);
const QColor Green(60, 150, 90);
const QColor Amber(230, 170, 40);
const QColor Red(200, 60, 50);

void Adapter(QPainter& p) {  // a network card with its port and a cable
  p.setBrush(Green);
  p.drawRect(2, 7, 16, 10);
  p.setBrush(Amber);
  for (int x = 4; x < 16; x += 3) p.drawRect(x, 17, 2, 3);
  p.setBrush(Qt::white);
  p.drawRect(13, 9, 4, 5);
  p.setPen(QPen(Blue, 2));
  p.drawLine(17, 11, 22, 11);
  p.drawLine(22, 11, 22, 3);
}

void RemoteHost(QPainter& p) {  // a monitor with a signal above it
  p.setBrush(QColor(210, 225, 245));
  p.drawRect(3, 9, 14, 10);
  p.setBrush(Ink);
  p.drawRect(8, 19, 4, 2);
  p.drawRect(5, 21, 10, 1);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Blue, 1.5));
  p.drawArc(QRectF(13, 1, 10, 10), 0 * 16, 90 * 16);
  p.drawArc(QRectF(16, 4, 4, 4), 0 * 16, 90 * 16);
}

void Save(QPainter& p) {  // a diskette
  p.setBrush(Blue);
  p.drawRect(3, 3, 18, 18);
  p.setBrush(Qt::white);
  p.drawRect(6, 3, 12, 7);
  p.setBrush(QColor(200, 200, 200));
  p.drawRect(7, 14, 10, 7);
  p.setBrush(Ink);
  p.drawRect(14, 4, 2, 5);
}

void OpenFile(QPainter& p) {  // an opened folder
  p.setBrush(Amber.darker(115));
  p.drawRect(2, 6, 9, 3);
  p.drawRect(2, 8, 18, 12);
  p.setBrush(Amber);
  QPainterPath front;
  front.moveTo(5, 11);
  front.lineTo(23, 11);
  front.lineTo(19, 20);
  front.lineTo(2, 20);
  front.closeSubpath();
  p.drawPath(front);
}

void ClearAll(QPainter& p) {  // a sheet with a red cross
  p.setBrush(Qt::white);
  p.drawRect(4, 2, 13, 18);
  p.setPen(QPen(QColor(170, 170, 170), 1));
  for (int y = 6; y < 18; y += 3) p.drawLine(6, y, 15, y);
  p.setPen(QPen(Red, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(12, 12, 21, 21);
  p.drawLine(21, 12, 12, 21);
}

void SelectFields(QPainter& p) {  // columns of a table, one ticked
  p.setBrush(Qt::white);
  p.drawRect(2, 3, 20, 17);
  p.setBrush(QColor(210, 225, 245));
  p.drawRect(2, 3, 20, 4);
  p.drawLine(9, 3, 9, 20);
  p.drawLine(15, 3, 15, 20);
  p.setPen(QPen(Green, 2.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(10, 14, 12, 17);
  p.drawLine(12, 17, 21, 9);
}

void ViewHex(QPainter& p) {  // hexadecimal digits on a page
  p.setBrush(Qt::white);
  p.drawRect(2, 3, 20, 18);
  QFont f("Monospace");
  f.setStyleHint(QFont::TypeWriter);
  f.setPixelSize(8);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Blue);
  p.drawText(QRect(3, 4, 19, 8), Qt::AlignCenter, "0F");
  p.setPen(Ink);
  p.drawText(QRect(3, 12, 19, 8), Qt::AlignCenter, "A7");
}
}  // namespace

QIcon ToolIcon(TToolImage image) {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Ink, 1));
  switch (image) {
    case TToolImage::Adapter: Adapter(p); break;
    case TToolImage::RemoteHost: RemoteHost(p); break;
    case TToolImage::Save: Save(p); break;
    case TToolImage::OpenFile: OpenFile(p); break;
    case TToolImage::ClearAll: ClearAll(p); break;
    case TToolImage::SelectFields: SelectFields(p); break;
    case TToolImage::ViewHex: ViewHex(p); break;
  }
  p.end();
  return QIcon(pixmap);
}
