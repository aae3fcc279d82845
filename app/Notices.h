// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Notices: what the window says of its own accord (a kept setting it could not use, a
// ports file with problems, a port given that is not there). The status line cuts a long
// text at the window's width, so each notice is also kept in full in the line's tooltip,
// with the run's others, and written to standard error.

class QString;
class TMainForm;

// Shows text in form's status line and adds it to the tooltip's list; toStderr false when
// the caller has already said it there in its own words.
void ShowNotice(TMainForm& form, const QString& text, bool toStderr = true);
