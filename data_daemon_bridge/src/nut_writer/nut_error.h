// NutError: the failure of one chunk file operation, with its display text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace data_daemon_bridge {

struct NutError {
  enum class Kind : uint8_t {
    InvalidConfig,  // message: one of the fixed texts below
    Open,           // path: the directory or file that could not be created
    Write,          // path: the chunk file
  };

  Kind kind;
  std::string message;         // InvalidConfig only
  std::filesystem::path path;  // Open and Write
  std::string system_error;    // Open and Write: the system error's text

  static NutError invalid_config(std::string_view message);
  static NutError open(std::filesystem::path path, std::string system_error);
  static NutError write(std::filesystem::path path, std::string system_error);
};

// The fixed messages of NutError::Kind::InvalidConfig.
inline constexpr std::string_view kNutZeroGeometry = "width and height must be non-zero";
inline constexpr std::string_view kNutZeroTimeBase =
    "time_base_num and time_base_den must be non-zero";
inline constexpr std::string_view kNutFrameBytesOverflow = "width * height * 3 overflows usize";
inline constexpr std::string_view kNutPtsOverflow = "pts overflow when encoding";

// "invalid NUT configuration: {message}", "failed to open NUT file {path}: {system error}" or
// "failed to write NUT file {path}: {system error}".
std::string nut_error_text(const NutError& error);

}  // namespace data_daemon_bridge
