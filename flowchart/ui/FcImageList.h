#pragma once
// The chart's image list: equally sized pictures that objects show by index.
#include <QObject>
#include <QPixmap>
#include <QVector>

class TFcImageList : public QObject {
  Q_OBJECT
 public:
  TFcImageList(int width, int height, QObject* parent = nullptr) : QObject(parent), width_(width), height_(height) {}
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Count() const { return images_.size(); }
  const QPixmap& Image(int i) const { return images_[i]; }
  int Add(const QPixmap& p) {
    images_.push_back(p.scaled(width_, height_));
    emit Changed();
    return images_.size() - 1;
  }
  void Clear() {
    images_.clear();
    emit Changed();
  }

 signals:
  void Changed();

 private:
  int width_, height_;
  QVector<QPixmap> images_;
};
