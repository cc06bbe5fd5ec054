#pragma once

// The property names the design model reads from and writes into a picture's
// metadata. They keep the names the design code was written against; the
// metadata value maps each to its Exiv2 key (with an XMP fallback).
namespace platform::ImageProperty {

inline constexpr const char *kOrientation = "kCGImagePropertyOrientation";
inline constexpr const char *kTIFFOrientation = "kCGImagePropertyTIFFOrientation";
inline constexpr const char *kDPIWidth = "kCGImagePropertyDPIWidth";
inline constexpr const char *kDPIHeight = "kCGImagePropertyDPIHeight";
inline constexpr const char *kPixelWidth = "kCGImagePropertyPixelWidth";
inline constexpr const char *kPixelHeight = "kCGImagePropertyPixelHeight";
inline constexpr const char *kTIFFXResolution = "kCGImagePropertyTIFFXResolution";
inline constexpr const char *kTIFFYResolution = "kCGImagePropertyTIFFYResolution";
inline constexpr const char *kTIFFSoftware = "kCGImagePropertyTIFFSoftware";
inline constexpr const char *kExifDateTimeOriginal = "kCGImagePropertyExifDateTimeOriginal";
inline constexpr const char *kIPTCHeadline = "kCGImagePropertyIPTCHeadline";
inline constexpr const char *kIPTCCaptionAbstract = "kCGImagePropertyIPTCCaptionAbstract";
inline constexpr const char *kIPTCSubLocation = "kCGImagePropertyIPTCSubLocation";

// Dictionaries: present when the picture carries that kind of metadata.
inline constexpr const char *kExifDictionary = "kCGImagePropertyExifDictionary";
inline constexpr const char *kIPTCDictionary = "kCGImagePropertyIPTCDictionary";
inline constexpr const char *kTIFFDictionary = "kCGImagePropertyTIFFDictionary";

// Written by exports, kept beside the design's resolution.
inline constexpr const char *kLossyCompressionQuality = "kCGImageDestinationLossyCompressionQuality";

// The file entries added to a photo's properties.
inline constexpr const char *kFileName = "File name";
inline constexpr const char *kFileSize = "File size";
inline constexpr const char *kFileDate = "File date";

} // namespace platform::ImageProperty
