#pragma once
/// The send page's pictures at the chosen resolution: a working folder "Temp%d" beside the
/// message, the original of every slide picture kept there, each picture rebuilt from its
/// original when the resolution changes, and the originals put back when the page is left
/// without sending or saving.

#include <string>
#include <vector>

#include "presentation/message_document.h"

namespace ui {

class PagePictures {
 public:
  PagePictures() = default;
  ~PagePictures() = default;
  PagePictures(const PagePictures&) = delete;
  PagePictures& operator=(const PagePictures&) = delete;

  /// Makes "Temp%d" inside `messageDirectory`, with the first number from 1 whose folder
  /// does not exist; false when it cannot be made.
  bool MakeWorkingFolder(std::u16string_view messageDirectory);
  const std::u16string& WorkingFolder() const { return folder_; }

  /// Copies every slide picture of `document` into the working folder (the originals).
  /// Returns the number of pictures, -1 when a copy failed (nothing is kept then).
  int TakeOriginals(const presentation::MessageDocument& document);
  bool HasOriginals() const { return taken_; }
  int PictureCount() const { return static_cast<int>(pictures_.size()); }

  /// Rebuilds every picture from its original: scaled to fit the resolution's box when
  /// wider or higher than it, else (and for resolution 3) copied unchanged. False when a
  /// picture could not be rebuilt (it keeps its original then).
  bool Apply(int resolution);
  /// Makes the pictures as they are now the originals (after the message was saved).
  bool KeepCurrentAsOriginals();
  /// Copies every original back over its picture.
  bool Restore();
  /// Deletes the working folder with everything in it.
  void RemoveWorkingFolder();

 private:
  struct Picture {
    std::u16string part;      // the picture in the parts directory
    std::u16string original;  // its copy in the working folder
  };
  std::u16string folder_;
  std::vector<Picture> pictures_;
  bool taken_ = false;
};

}  // namespace ui
