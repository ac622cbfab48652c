#pragma once

namespace lumora {

struct State;

/// Fills GaussFixed from the comments on the band cells of the species rows: the band
/// parameters are numbered across the species rows, three per band, and a cell that
/// carries a comment holds its parameter fixed. Cells beyond the 3 x nG parameters of
/// the band table are ignored. Cell access failures reach the caller.
void ReadFixedMarks(State& st);

} // namespace lumora
