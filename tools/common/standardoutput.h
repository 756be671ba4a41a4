// SPDX-License-Identifier: GPL-3.0-or-later
// Whether what a command printed reached its standard output, judged once,
// as the command ends.
#pragma once

namespace standardoutput {

// The exit status once standard output is flushed. Output into a pipe its
// reader closed (| head) ends only the output: `status` stays. Any other
// failure (a full disk, an I/O error) is said on standard error and, for a
// command whose product is its output (read, a listing), turns a success
// into 1.
int finish(int status, bool outputIsTheProduct);

} // namespace standardoutput
