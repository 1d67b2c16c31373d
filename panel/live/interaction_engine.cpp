#include "panel/live/interaction_engine.h"

#include <stdexcept>
#include <utility>

namespace tessaly {

namespace {

// The C locale's isspace, written out: calling isspace on a char holding a
// byte >= 0x80 is undefined, and the rule must not follow the locale.
bool is_ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The C locale's toupper, byte by byte: only a-z change.
char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

// `text` without leading and trailing white space; a view into `text`.
std::string_view trim_ascii(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && is_ascii_space(text[begin])) ++begin;
  while (end > begin && is_ascii_space(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Whether `text` upper-cased equals `token` (already normalized) byte for
// byte, without building the upper-cased copy.
bool equals_upper(std::string_view text, const std::string& token) {
  if (text.size() != token.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (ascii_upper(text[i]) != token[i]) return false;
  }
  return true;
}

}  // namespace

InteractionEngine::InteractionEngine()
    : title("请选择一个选项"), choices{{"1", "选项一", 0}, {"2", "选项二", 0}} {}

std::string InteractionEngine::normalized_token(std::string_view text) {
  std::string result(trim_ascii(text));
  for (char& c : result) c = ascii_upper(c);
  return result;
}

void InteractionEngine::configure(std::string new_title,
                                  std::vector<InteractionChoice> new_choices) {
  // Everything is checked on the arguments (owned copies), so a throw leaves
  // the engine untouched.
  new_title = std::string(trim_ascii(new_title));
  if (new_title.empty()) throw std::invalid_argument("title is required");
  if (new_choices.size() < 2 || new_choices.size() > 6) {
    throw std::invalid_argument("choices must contain 2 to 6 items");
  }
  for (std::size_t i = 0; i < new_choices.size(); ++i) {
    InteractionChoice& choice = new_choices[i];
    choice.token = normalized_token(choice.token);
    choice.label = std::string(trim_ascii(choice.label));
    choice.votes = 0;
    if (choice.token.empty() || choice.label.empty()) {
      throw std::invalid_argument("choice token and label are required");
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (new_choices[j].token == choice.token) {
        throw std::invalid_argument("choice tokens must be unique");
      }
    }
  }
  title = std::move(new_title);
  choices = std::move(new_choices);
  total_votes = 0;
  active = false;
}

void InteractionEngine::start() {
  for (InteractionChoice& choice : choices) choice.votes = 0;
  total_votes = 0;
  active = true;
}

void InteractionEngine::end() { active = false; }

IngestResult InteractionEngine::ingest(const LiveComment& comment) {
  const std::string_view text = trim_ascii(comment.content);
  if (text.empty()) return IngestResult::Ignored;

  if (active) {
    for (InteractionChoice& choice : choices) {
      if (equals_upper(text, choice.token)) {
        ++choice.votes;
        ++total_votes;
        return IngestResult::Vote;
      }
    }
  }

  if (candidates.size() < kMaxCandidates) {
    candidates.push_front(CommentCandidate{comment.msg_id, comment.nickname, std::string(text)});
    return IngestResult::Candidate;
  }
  // Full: the oldest entry is dropped and its string buffers carry the new
  // one, so a steady stream of chatter allocates nothing here. Same result
  // as inserting first and trimming the back afterwards. On memory
  // exhaustion the oldest entry is gone and the new one not added.
  CommentCandidate recycled = std::move(candidates.back());
  candidates.pop_back();
  recycled.msg_id.assign(comment.msg_id);
  recycled.nickname.assign(comment.nickname);
  recycled.content.assign(text.data(), text.size());
  candidates.push_front(std::move(recycled));
  return IngestResult::Candidate;
}

}  // namespace tessaly
