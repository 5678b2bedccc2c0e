#pragma once
// The program's pictures, drawn at run time so that no binary artwork has to
// be kept in the repository.

#include "geometry/scan_view.h"

#include <QIcon>
#include <QPixmap>

namespace veltrana::ui {

// Size of the two frame rotation pictures.
inline constexpr int kRotationPictureWidth = 55;
inline constexpr int kRotationPictureHeight = 53;

// A horizontal strip of film: perforations along both edges, three picture
// frames, and the striped soundtrack band between the frames and the upper
// perforations (soundtrackUp) or the lower ones.
QPixmap frameRotationPicture(bool soundtrackUp);

// The picture of a frame rotation: the strip above for Top and Bottom, turned
// upright with the band at the left for Left, and that mirrored for Right.
QPixmap trackSidePicture(TrackSide side);

// The window icon: a strip of film with the sound wave read from it.
QIcon veltranaIcon();

} // namespace veltrana::ui
