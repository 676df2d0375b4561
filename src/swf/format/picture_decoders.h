// PNG and GIF pictures as movies use them: inside a DefineBitsJPEG2/3 tag and as files that
// loadMovie and MovieClipLoader load into a clip. Our own readers, so that a picture keeps its
// transparency and decodes the same on every system. Neither trusts the sizes a file claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "swf/format/movie.h"

namespace dbx::swf {

// A PNG picture: grey, grey and alpha, RGB, RGBA or a palette, 1 to 16 bits a sample, plain or
// interlaced, with its transparency chunk. Nothing for damaged data or a picture of more than
// `maxPixels` pixels.
std::shared_ptr<const Bitmap> DecodePng(const std::uint8_t* data, std::size_t size,
                                        std::size_t maxPixels);

// The first image of a GIF file (87a or 89a) on its logical screen, which is transparent where
// the image does not cover it. Nothing for damaged headers or a screen of more than `maxPixels`
// pixels; image data that ends early leaves the rest of the image transparent.
std::shared_ptr<const Bitmap> DecodeGif(const std::uint8_t* data, std::size_t size,
                                        std::size_t maxPixels);

// A JPEG picture through the system's decoder (`images`; none decodes nothing), opaque.
std::shared_ptr<const Bitmap> DecodeJpegPicture(ImageLoader* images, const std::uint8_t* data,
                                                std::size_t size, std::size_t maxPixels);

// A picture file (JPEG, PNG or GIF) as a movie of one frame that shows it at its own size from
// the top left corner, as a clip shows a picture loaded into it. Nothing when the data is no
// picture or does not decode.
std::optional<Movie> PictureMovie(const std::uint8_t* data, std::size_t size, ImageLoader* images,
                                  const ParseLimits& limits = {});

bool IsPng(const std::uint8_t* data, std::size_t size);
bool IsGif(const std::uint8_t* data, std::size_t size);

}  // namespace dbx::swf
