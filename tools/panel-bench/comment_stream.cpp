#include "comment_stream.h"

#include <windows.h>

#include <algorithm>

namespace panel_host {

namespace {

std::string comment_text(std::uint64_t serial, const char* content) {
  const std::string n = std::to_string(serial);
  return R"({"data":{"msg_type_str":"live_comment","msg_id":"bench-)" + n +
         R"(","sec_open_id":"viewer-)" + n + R"(","nickname":"viewer )" + n + R"(","content":")" +
         content + R"(","timestamp":)" + n + "}}";
}

}  // namespace

std::string CommentStream::next(bool* is_vote) {
  const std::uint64_t serial = ++serial_;
  const int slot = static_cast<int>(serial % 5);
  *is_vote = slot != 0;
  if (slot == 0) return comment_text(serial, "主播好！这条评论可以展示吗");
  return comment_text(serial, slot % 2 == 1 ? "1" : "2");
}

std::string CommentStream::next_vote() { return comment_text(++serial_, "1"); }

double CommentStream::send(QuenloHost& host, std::uint64_t count, double rate,
                           std::atomic<std::uint64_t>& sent, std::atomic<std::uint64_t>& votes) {
  const auto begin = std::chrono::steady_clock::now();
  std::uint64_t done = 0;
  while (done < count) {
    std::uint64_t due = count;
    if (rate > 0) {
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
      due = std::min<std::uint64_t>(count, static_cast<std::uint64_t>(elapsed * rate) + 1);
    }
    for (; done < due; ++done) {
      bool is_vote = false;
      if (!host.send(1, next(&is_vote))) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
      }
      if (is_vote) ++votes;
      ++sent;
    }
    if (done < count) ::Sleep(1);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

}  // namespace panel_host
