#pragma once
// The data-set reader: finds or opens the workbook, walks its sheet with the cell
// cursor, checks every value, hands database, options and system to the engine,
// fills the shared state and evaluates the goal function once.

#include <cstdint>
#include <string>

namespace lumora {

struct State;

/// Reads and checks the data-set sheet named by the main window's file box (or asks
/// for one). The outcome is ErrCode and ErrMsg: 0 when the whole data set was read
/// and evaluated, 1..23 a data error with its message (most with the cell position),
/// -1..-7 file, host and engine failures (their messages are the caller's).
void ReadDataSet(State& st);

/// The message of a data error 1..23 without the position; "" for other codes.
std::string DataErrorText(int16_t code);

/// Whether a data error's message carries the "(row=..., col=...)" position.
bool DataErrorHasPosition(int16_t code);

} // namespace lumora
