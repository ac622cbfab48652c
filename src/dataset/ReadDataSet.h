#pragma once
// The data-set reader: finds or opens the workbook, walks its sheet with the cell
// cursor, checks every value, hands database, options and system to the engine,
// fills the shared state and evaluates the goal function once.

#include "dataset/FileDialog.h"

#include <cstdint>
#include <string>

namespace lumora {

struct State;

/// The reader's outcome codes, as ErrCode holds them: file, host and engine failures
/// below zero, data errors above.
enum class ReadError : int16_t {
    OptionsRefused = -7,
    SystemFileError = -6,
    DatabaseError = -5,
    FileNotFound = -4,
    NoHost = -3,
    IncorrectFileType = -2,
    FileNotOpen = -1,
    None = 0,
    SpeciesCountMismatch = 1,
    CannotOpenFile = 2,
    UnexpectedError = 3,
    IncorrectKeyword = 4,
    NoMandatoryData = 5,
    NoAqueousSolution = 6,
    OutOfRange = 7,
    PureMineralComponents = 8,
    InitialError = 9,
    NonPositiveWavelength = 10,
    StopBelowStart = 11,
    IncorrectSpeciesCount = 12,
    SpeciesNotInDatabase = 13,
    SpeciesNotAqueous = 14,
    SpeciesNotInSystem = 15,
    DuplicatedSpecies = 16,
    InitialEnergy = 17,
    RowTooLong = 18,
    InvalidFormula = 19,
    RowTooShort = 20,
    InvalidComposition = 21,
    NoSolutionName = 22,
    WavelengthsNotGrowing = 23,
};

/// Which workbook the reader takes.
struct ReadRequest {
    /// Text of the data-file box: a workbook name or path; empty: the host's active
    /// workbook, else the one chosen in the open dialog.
    std::string fileName;
    /// The open dialog (unset: none; an empty name then stops the read with -1).
    OpenDialog openDialog;
};

/// Reads and checks the data-set sheet of the requested workbook. The outcome is
/// ErrCode and ErrMsg: 0 when the whole data set was read and evaluated, 1..23 a data
/// error with its message (most with the cell position), -1..-7 file, host and engine
/// failures (their messages are the caller's). Returns the text for the data-file box:
/// the request's text, or the name of the workbook taken when the request named none.
std::string ReadDataSet(State& st, const ReadRequest& request);

/// The message of a data error 1..23 without the position; "" for other codes.
std::string DataErrorText(int16_t code);

/// Whether a data error's message carries the "(row=..., col=...)" position.
bool DataErrorHasPosition(int16_t code);

} // namespace lumora
