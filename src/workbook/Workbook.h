#pragma once

#include <string>

namespace lumora {

class Worksheet;

class Workbook {
public:
    virtual ~Workbook() = default;

    /// File name without folder.
    virtual std::string Name() const = 0;
    /// Full path of the file.
    virtual std::string FullName() const = 0;
    /// Active sheet when it is a worksheet, else nullptr.
    virtual Worksheet* ActiveSheet() = 0;
    /// Worksheet by 1-based index, nullptr when absent.
    virtual Worksheet* Worksheets(int index) = 0;
    virtual int WorksheetCount() const = 0;
    virtual void Activate() = 0;
    /// True when the program wrote into it since the last save.
    virtual bool Dirty() const = 0;
    /// Saves the file (atomically where the host writes it itself); false with a reason.
    virtual bool Save(std::string& error) = 0;
};

} // namespace lumora
