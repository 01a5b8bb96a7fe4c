#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace data_daemon_bridge::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "ddb-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<uint8_t> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::string shell_quoted(const fs::path& path) {
  std::string quoted = "'";
  for (char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

CommandResult run_command(const std::string& command) {
  TempDir scratch;
  fs::path errors = scratch / "stderr";
  CommandResult result;
  FILE* pipe = popen((command + " 2>" + shell_quoted(errors)).c_str(), "r");
  if (!pipe) return result;
  char buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) {
    result.output.insert(result.output.end(), buf, buf + n);
  }
  int status = pclose(pipe);
  if (status != -1 && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  std::vector<uint8_t> err = read_file(errors);
  result.errors.assign(err.begin(), err.end());
  return result;
}

CommandResult ffmpeg_decode_rgb24(const fs::path& chunk) {
  return run_command("ffmpeg -nostdin -hide_banner -loglevel error -i " + shell_quoted(chunk) +
                     " -fps_mode passthrough -f rawvideo -pix_fmt rgb24 -");
}

ProbedStream ffprobe_stream(const fs::path& chunk) {
  ProbedStream probed;
  CommandResult stream = run_command(
      "ffprobe -hide_banner -loglevel error -count_frames -select_streams v:0 -show_entries "
      "stream=codec_name,width,height,time_base,nb_read_frames -of default=noprint_wrappers=1 " +
      shell_quoted(chunk));
  probed.errors = stream.errors;
  std::istringstream lines(std::string(stream.output.begin(), stream.output.end()));
  std::string line;
  while (std::getline(lines, line)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "codec_name") probed.codec_name = value;
    if (key == "width") probed.width = static_cast<uint32_t>(std::stoul(value));
    if (key == "height") probed.height = static_cast<uint32_t>(std::stoul(value));
    if (key == "time_base") probed.time_base = value;
    if (key == "nb_read_frames") probed.frames = std::stoull(value);
  }
  CommandResult packets = run_command(
      "ffprobe -hide_banner -loglevel error -select_streams v:0 -show_entries packet=pts -of "
      "csv=p=0 " +
      shell_quoted(chunk));
  probed.errors += packets.errors;
  std::istringstream pts_lines(std::string(packets.output.begin(), packets.output.end()));
  while (std::getline(pts_lines, line)) {
    if (!line.empty()) probed.packet_pts.push_back(std::stoll(line));
  }
  return probed;
}

CommandResult reference_decode_pngs(const std::vector<std::vector<uint8_t>>& pngs) {
  TempDir dir;
  std::string command = std::string("python3 ") + shell_quoted(DDB_PNG_REFERENCE_DECODER);
  for (size_t i = 0; i < pngs.size(); ++i) {
    fs::path file = dir / ("image" + std::to_string(i) + ".png");
    write_file(file, pngs[i]);
    command += " " + shell_quoted(file);
  }
  return run_command(command);
}

std::vector<uint8_t> noise(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

}  // namespace data_daemon_bridge::testing
