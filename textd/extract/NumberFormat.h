#pragma once

#include <QString>

#include <vector>

namespace dv::textd {

// A spreadsheet cell's number format ("#,##0.00", "d-mmm-yy", "0.00%", "# ?/?"), as Excel
// shows a number with it: sections for positive, negative and zero values, conditions,
// literal text, digit placeholders, thousands and scaling commas, percent, exponents,
// fractions, dates and times from day serials, and the General format.
class NumberFormat
{
public:
    NumberFormat() = default; // General
    explicit NumberFormat(const QString &code);

    // The code of a format the file refers to by number only; empty for General.
    static QString builtIn(int id);
    // A number in the General format: up to eleven characters, as a default-width cell shows.
    static QString general(double value);

    bool isDate() const;
    QString format(double value, bool date1904 = false) const;

    struct Token
    {
        enum Kind
        {
            Literal,
            Digit, // 0 # ?
            Point,
            Exponent, // text holds "E+" or "E-"
            Slash,    // fraction bar
            General,  // the word General inside a section
            Year,     // count in size
            Month,    // also minutes, told apart when parsed
            Minute,
            Day,
            Hour,
            Second,
            AmPm,      // text holds the two forms, "AM/PM" or "A/P"
            Elapsed,   // [h], [m], [s]: text holds the letter
            SubSecond, // .0, .00, .000 after seconds
            TextValue  // @
        };
        Kind kind;
        QString text;
        int size = 1;
    };
    struct Section
    {
        std::vector<Token> tokens;
        bool hasCondition = false;
        char conditionOp[3] = {0, 0, 0};
        double conditionValue = 0;
        bool date = false;
        bool thousands = false;
        int scale = 0;   // trailing commas: divide by 1000 each
        int percent = 0; // multiply by 100 each
    };

private:
    const Section *pick(double value, bool &useAbsolute) const;
    static QString formatNumber(const Section &section, double value);
    static QString formatDate(const Section &section, double value, bool date1904);
    static QString formatFraction(const Section &section, double value);

    std::vector<Section> m_sections;
};

} // namespace dv::textd
