// Writing a range of the image as an object file: Intel HEX, Motorola
// S-records or raw binary, to a file (through a temporary file beside it
// and a rename) or to an open descriptor such as standard output.
//
// Every byte of the range is written, 0xFF included: the range is what the
// chip holds or receives, and a reader that fills its gaps with something
// else (srec_cat -binary leaves gaps as 0x00, objcopy the same) would
// otherwise give back other bytes than the image's. Loading the file again,
// with this program or another, yields the range byte for byte.
//
// Intel HEX: data records of at most 32 bytes, each within one 32-byte
// aligned block (so none crosses a 64 KiB boundary); a type 04 extended
// linear address record before the first record whose upper 16 address
// bits differ from the last ones set (none while they are 0); the end
// record ":00000001FF". S-records: an S0 header holding the file's name,
// S1, S2 or S3 data records (the narrowest address field that holds the
// range's last address) of at most 32 bytes, aligned as above, an S5 count
// record (S6 beyond 65,535 data records), and the S9, S8 or S7 end record
// that matches the data records, with start address 0. Hex digits are upper
// case; every line ends with LF alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "data/image_buffer.hpp"
#include "data/object_file.hpp"

namespace velkor {

// The save dialog's filters: the binary filter first, exactly as it always
// was (kSaveDialogFilter), then one per record format. The S-record filter
// lists .SREC first, the name the dialog adds when none is typed.
inline constexpr const char* kSaveDialogFormatFilter = TextKey(
    "All Binary Files(*.BIN)|*.BIN|"
    "All Intel Hex Files(*.HEX,*.IHX)|*.HEX;*.IHX;*.IHEX|"
    "All Motorola Hex Files(*.SREC,*.S19,*.S28,*.S37)|*.SREC;*.S19;*.S28;*.S37;*.MOT;*.S");

// Data bytes per record of the record formats.
inline constexpr std::size_t kBytesPerRecord = 32;

// Writes bytes[0 .. count) as the data of addresses first .. first + count - 1
// in format (IntelHex, MotorolaS or Binary; binary writes the bytes alone)
// to fd, in large blocks; header names the file in an S0 record (cut to
// 252 bytes). Returns the number of bytes written. Raises EInOutError naming
// `what` when a write fails or the range does not fit 32-bit addresses,
// std::invalid_argument for HexText.
//
// written, when given, is told of each part of bytes (its offset from bytes
// and its size) once binary output has written it: a caller done with the
// bytes may give their memory back then. The record formats tell nothing.
using BytesWritten = std::function<void(std::size_t offset, std::size_t count)>;
uint64_t WriteObject(int fd, const std::string& what, const uint8_t* bytes, uint32_t first, std::size_t count,
                     ObjectFormat format, std::string_view header, const BytesWritten& written = {});

// The same into path: a temporary file in the same folder, flushed to disk
// and renamed over path, so a failed save never leaves a part of a file
// under the name (and an existing file stays as it was). A symbolic link is
// saved through to its target; an existing file keeps its permissions (and
// owner where allowed); a folder, FIFO or device at path is refused. The
// S0 header holds path's file name. Returns the size of the file.
uint64_t WriteObjectFile(const std::filesystem::path& path, const uint8_t* bytes, uint32_t first, std::size_t count,
                         ObjectFormat format, const BytesWritten& written = {});

// The used range of the image, Data[0 .. ChipEnd - ChipStart] at addresses
// 0 onwards: the bytes the binary save has always written, in any format.
// Raises EInOutError when the range reaches beyond the image buffer.
uint64_t SaveUsedRangeAs(const ImageBuffer& image, const std::filesystem::path& path, ObjectFormat format,
                         const BytesWritten& written = {});
uint64_t WriteUsedRange(int fd, const std::string& what, const ImageBuffer& image, ObjectFormat format,
                        std::string_view header);

}  // namespace velkor
