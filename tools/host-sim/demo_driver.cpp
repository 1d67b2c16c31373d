#include "tools/host-sim/demo_driver.h"

#include "tools/common/process_window.h"
#include "tools/host-sim/core/panel_texts.h"
#include "tools/host-sim/png_writer.h"
#include "tools/host-sim/wide_text.h"

namespace host_sim {
namespace {

// How long the panel gets for each step; generous for a loaded machine.
constexpr DWORD kWindowTimeoutMs = 15000;
constexpr DWORD kStepTimeoutMs = 5000;
// A frame this many frames after a change was drawn after it: the panel
// copies its picture once per 100 ms pass, before sending it.
constexpr uint64_t kFramesToSettle = 3;

bool is_chinese(const std::string& text) {
  return !text.empty() && static_cast<unsigned char>(text[0]) >= 0x80;
}

}  // namespace

DemoDriver::DemoDriver(DWORD panel_process, FrameCapture& capture, ConsoleOutput& out,
                       std::wstring out_dir, Waiter wait, SessionReport& report)
    : process_(panel_process),
      capture_(capture),
      out_(out),
      out_dir_(std::move(out_dir)),
      wait_(std::move(wait)),
      report_(report) {}

void DemoDriver::problem(const std::string& text) {
  out_.error("demo: " + text);
  report_.problems.push_back("demo: " + text);
}

bool DemoDriver::save_pixels(const wchar_t* name, const uint8_t* pixels, uint32_t width,
                             uint32_t height) {
  std::string error;
  if (!write_png(out_dir_ + name, pixels, width, height, width * 4, error)) {
    problem(error);
    return false;
  }
  ++report_.pngs_written;
  report_.files.push_back(narrow(name));
  out_.line("demo: saved " + narrow(name));
  return true;
}

bool DemoDriver::save_fresh_frame(const wchar_t* name, uint64_t* hash) {
  const uint64_t after = capture_.frames() + kFramesToSettle;
  Frame frame;
  if (!wait_([&] { return capture_.frames() >= after; }, kStepTimeoutMs) ||
      !capture_.latest(frame)) {
    problem("no overlay frame arrived for " + narrow(name));
    return false;
  }
  *hash = frame.hash;
  return save_pixels(name, frame.pixels.data(), kOverlayWidth, kOverlayHeight);
}

bool DemoDriver::take_message_box(std::string* text) {
  const HWND box = quenlo_tools::FindProcessWindow(process_, quenlo_tools::kMessageBoxClass, true);
  if (box == nullptr) return false;
  *text = PanelWindow(box).text(0xFFFF);
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  return true;
}

bool DemoDriver::start_vote(const std::string& title,
                            const std::vector<tessaly::InteractionChoice>& choices) {
  HWND found = nullptr;
  wait_(
      [&] {
        return (found = quenlo_tools::FindProcessWindow(process_, quenlo_tools::kPanelWindowClass,
                                                        true)) != nullptr;
      },
      kWindowTimeoutMs);
  if (found == nullptr) {
    problem("the control panel window did not appear");
    return false;
  }
  window_ = PanelWindow(found);
  out_.line("demo: control panel found, status \"" + window_.text(kStatusId) + "\"");

  save_fresh_frame(L"overlay-idle.png", &idle_hash_);

  const bool typed = window_.set_text(kTitleId, title) &&
                     window_.set_text(kLabel1Id, choices[0].label) &&
                     window_.set_text(kToken1Id, choices[0].token) &&
                     window_.set_text(kLabel2Id, choices[1].label) &&
                     window_.set_text(kToken2Id, choices[1].token);
  if (!typed) {
    problem("could not type the vote into the window");
    return false;
  }
  window_.click(kStartId);
  std::string refusal;
  wait_([&] { return window_.enabled(kEndId) || take_message_box(&refusal); }, kStepTimeoutMs);
  if (!window_.enabled(kEndId)) {
    problem(refusal.empty() ? "the vote did not start (End stayed disabled)"
                            : "Start was answered with the message \"" + refusal + "\"");
    return false;
  }
  out_.line("demo: vote started: " + title);
  return true;
}

void DemoDriver::finish(const std::vector<tessaly::InteractionChoice>& expected) {
  if (!window_.exists()) return;
  // Votes still travelling through the pipe and the window's queue arrive
  // within a few timer ticks.
  const int ids[2] = {kResult1Id, kResult2Id};
  report_.votes.clear();
  auto read_counts = [&] {
    bool all = true;
    for (size_t i = 0; i < 2; ++i) {
      const int64_t counted = votes_in_result_line(window_.text(ids[i]));
      report_.votes[i].counted = counted;
      all = all && counted == static_cast<int64_t>(expected[i].votes);
    }
    return all;
  };
  for (size_t i = 0; i < 2; ++i) {
    report_.votes.push_back(VoteCount{expected[i].token, expected[i].label, expected[i].votes, -1});
  }
  wait_(read_counts, kStepTimeoutMs);
  read_counts();
  out_.line("demo: window shows \"" + window_.text(kResult1Id) + "\" and \"" +
            window_.text(kResult2Id) + "\"");

  window_.click(kEndId);
  if (!wait_([&] { return window_.enabled(kStartId); }, kStepTimeoutMs)) {
    problem("End did not close the vote");
  }
  window_.click(kShowResultsId);
  if (save_fresh_frame(L"overlay-results.png", &results_hash_) && results_hash_ == idle_hash_) {
    problem("the overlay still shows the idle view after Show results");
  }

  confirm_candidate();

  std::vector<uint8_t> pixels;
  uint32_t width = 0;
  uint32_t height = 0;
  if (capture_window(window_.handle(), pixels, width, height)) {
    save_pixels(L"control-panel.png", pixels.data(), width, height);
  } else {
    problem("could not capture the control panel window");
  }
}

void DemoDriver::confirm_candidate() {
  // The list is refilled on the timer tick after the last comment; a refill
  // drops the selection, so a refused confirm is tried again.
  std::string refusal;
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<std::string> entries;
    wait_([&] { return !(entries = window_.candidates()).empty(); }, kStepTimeoutMs);
    if (entries.empty()) {
      problem("the candidate list stayed empty");
      return;
    }
    size_t pick = 0;
    while (pick < entries.size() && !is_chinese(content_of_candidate(entries[pick]))) ++pick;
    if (pick == entries.size()) pick = 0;
    const std::string content = content_of_candidate(entries[pick]);

    if (!window_.select_candidate(static_cast<int>(pick))) continue;
    window_.click(kConfirmId);
    wait_([&] { return window_.text(kConfirmedId) == content || take_message_box(&refusal); },
          kStepTimeoutMs);
    if (window_.text(kConfirmedId) != content) continue;

    report_.confirmed = content;
    out_.line("demo: confirmed \"" + entries[pick] + "\" for display");
    uint64_t hash = 0;
    if (save_fresh_frame(L"overlay-comment.png", &hash) && hash == results_hash_) {
      problem("the overlay did not change to the comment view");
    }
    return;
  }
  problem("no candidate could be confirmed" +
          (refusal.empty() ? std::string() : " (last answer: \"" + refusal + "\")"));
}

}  // namespace host_sim
