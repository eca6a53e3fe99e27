#pragma once

// Writes the whole dashboard response: the HTML header block and the constant page, with the
// back link only when `embedded` is 0. Always returns 0.
int mode_html(int embedded);
