#pragma once

// What the control panel's buttons and its refresh timer do. All run on the UI
// thread with the window of app.hwnd.

#include <string>

#include "panel/live/interaction_engine.h"

namespace tessaly {

struct AppContext;

// A result line: token, two spaces, label, "：", votes, " 票".
std::wstring result_line_text(const InteractionChoice& choice);

// A candidate list entry: nickname and "：" (only when there is a nickname),
// then the content. Empty when the joined text is not valid UTF-8.
std::wstring candidate_entry_text(const CommentCandidate& candidate);

// Start: configures and starts a vote from the five edit controls. On an
// invalid definition shows the warning box and changes nothing.
void start_interaction(AppContext& app);

// End: closes the vote and shows its results.
void end_interaction(AppContext& app);

// Show results: switches the overlay to the results view.
void show_results(AppContext& app);

// Confirm display: puts the selected candidate's content on the overlay and
// into control 113. Without a valid selection, and when the list is out of
// date (candidates_dirty), shows the information box; an out-of-date list is
// refilled first.
void confirm_candidate(AppContext& app);

// Writes the result lines of the first two choices into controls 109 and 110
// and enables Start exactly when no vote is open, End exactly when one is.
void refresh_results(AppContext& app);

// Refills the candidate list from the engine, newest first (list index i is
// candidate i). The list's selection is cleared by the refill.
void refresh_candidates(AppContext& app);

}  // namespace tessaly
