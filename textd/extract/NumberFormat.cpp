#include "textd/extract/NumberFormat.h"

#include <QDate>

#include <charconv>
#include <cmath>

namespace dv::textd {

namespace {

using Token = NumberFormat::Token;
using Section = NumberFormat::Section;

// |value| in decimal at Excel's precision of fifteen significant digits, rounded half away
// from zero to `decimals` places: 2.675 with two places is 2.68, as the cell shows it. The
// digits are digits[0..count) with the point after the first pointAt of them; the digits
// before, beyond and after them are zeros.
struct RoundedDigits
{
    char digits[16] = {};
    int count = 0;
    int pointAt = 1;

    char at(int index) const { return index >= 0 && index < count ? digits[index] : '0'; }
};

RoundedDigits roundedDigits(double value, int decimals)
{
    RoundedDigits r;
    const double magnitude = std::fabs(value);
    if (magnitude == 0 || !std::isfinite(magnitude))
        return r;
    // d.dddddddddddddde+XX, correctly rounded like printf's %.14e but without its locale and
    // stream machinery: this runs for every number cell.
    char buffer[40];
    const char *end =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, 14)
            .ptr;
    const char *p = buffer;
    for (; p < end && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9' && r.count < int(sizeof r.digits))
            r.digits[r.count++] = *p;
    }
    int exponent = 0;
    if (p + 2 < end) {
        std::from_chars(p + 2, end, exponent);
        if (p[1] == '-')
            exponent = -exponent;
    }
    r.pointAt = exponent + 1;
    const int keep = r.pointAt + decimals;
    if (keep < 0) {
        r.count = 0;
    } else if (keep < r.count) {
        const bool up = r.digits[keep] >= '5';
        r.count = keep;
        if (up) {
            int i = keep - 1;
            for (; i >= 0 && r.digits[i] == '9'; --i)
                r.digits[i] = '0';
            if (i >= 0) {
                ++r.digits[i];
            } else { // 9.99 became 10.0
                r.digits[0] = '1';
                r.count = 1;
                ++r.pointAt;
            }
        }
    }
    return r;
}

// Rounded as above, as the integer's digits without leading zeros (empty for zero) and exactly
// `decimals` fraction digits.
void roundDecimal(double value, int decimals, QString &integer, QString &fraction)
{
    const RoundedDigits r = roundedDigits(value, decimals);
    int first = 0;
    while (first < r.pointAt && r.at(first) == '0')
        ++first;
    integer.resize(std::max(0, r.pointAt - first));
    for (int i = first; i < r.pointAt; ++i)
        integer[i - first] = QLatin1Char(r.at(i));
    fraction.resize(std::max(0, decimals));
    for (int i = 0; i < decimals; ++i)
        fraction[i] = QLatin1Char(r.at(r.pointAt + i));
}

// The rounded digits as General shows them: at least one integer digit, the fraction without
// its trailing zeros.
char *writeGeneralDigits(char *out, const RoundedDigits &r, int decimals)
{
    int first = 0;
    while (first < r.pointAt && r.at(first) == '0')
        ++first;
    if (first >= r.pointAt)
        *out++ = '0';
    for (int i = first; i < r.pointAt; ++i)
        *out++ = r.at(i);
    int last = decimals;
    while (last > 0 && r.at(r.pointAt + last - 1) == '0')
        --last;
    if (last > 0)
        *out++ = '.';
    for (int i = 0; i < last; ++i)
        *out++ = r.at(r.pointAt + i);
    return out;
}

// Integer digits into placeholders, right-aligned: missing digits become '0', a space or
// nothing by the placeholder, surplus digits go to the first one.
std::vector<QString> fillRight(const std::vector<QChar> &holders, const QString &digits)
{
    std::vector<QString> out(holders.size());
    const qsizetype n = qsizetype(holders.size());
    for (qsizetype k = 0; k < n; ++k) {
        const qsizetype holder = n - 1 - k;
        const qsizetype digit = digits.size() - 1 - k;
        if (digit >= 0)
            out[holder] = digits[digit];
        else if (holders[holder] == u'0')
            out[holder] = QStringLiteral("0");
        else if (holders[holder] == u'?')
            out[holder] = QStringLiteral(" ");
    }
    if (n > 0 && digits.size() > n)
        out[0].prepend(digits.left(digits.size() - n));
    return out;
}

QString groupThousands(const QString &digits)
{
    QString out;
    int count = 0;
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        const QChar c = digits[i];
        if (c.isDigit()) {
            if (count > 0 && count % 3 == 0)
                out.prepend(u',');
            ++count;
        }
        out.prepend(c);
    }
    return out;
}

bool isDateLetter(QChar c)
{
    switch (c.toLower().unicode()) {
    case u'y':
    case u'm':
    case u'd':
    case u'h':
    case u's':
        return true;
    default:
        return false;
    }
}

Section parseSection(const QString &code)
{
    Section section;
    std::vector<Token> &tokens = section.tokens;
    const auto literal = [&](const QString &text) {
        if (!tokens.empty() && tokens.back().kind == Token::Literal && tokens.back().size == 1)
            tokens.back().text += text;
        else
            tokens.push_back({Token::Literal, text});
    };
    const qsizetype n = code.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = code[i];
        const QStringView rest = QStringView(code).mid(i);
        if (c == u'"') {
            const qsizetype end = code.indexOf(u'"', i + 1);
            literal(code.mid(i + 1, (end < 0 ? n : end) - i - 1));
            i = end < 0 ? n : end + 1;
        } else if (c == u'\\') {
            if (i + 1 < n)
                literal(code.mid(i + 1, 1));
            i += 2;
        } else if (c == u'_') {
            literal(QStringLiteral(" "));
            i += 2;
        } else if (c == u'*') {
            // Repeats a character to the column's width: a space stays one space.
            if (i + 1 < n && code[i + 1] == u' ')
                literal(QStringLiteral(" "));
            i += 2;
        } else if (c == u'[') {
            const qsizetype end = code.indexOf(u']', i);
            const QString inner = code.mid(i + 1, (end < 0 ? n : end) - i - 1);
            i = end < 0 ? n : end + 1;
            const QString lower = inner.toLower();
            if (inner.startsWith(u'$')) {
                const qsizetype dash = inner.indexOf(u'-');
                literal(inner.mid(1, dash < 0 ? -1 : dash - 1));
            } else if (!lower.isEmpty() &&
                       (lower[0] == u'h' || lower[0] == u'm' || lower[0] == u's') &&
                       lower.count(lower[0]) == lower.size()) {
                tokens.push_back({Token::Elapsed, lower.left(1), int(lower.size())});
                section.date = true;
            } else if (!inner.isEmpty() &&
                       (inner[0] == u'<' || inner[0] == u'>' || inner[0] == u'=')) {
                qsizetype j = 0;
                while (j < inner.size() && j < 2 &&
                       (inner[j] == u'<' || inner[j] == u'>' || inner[j] == u'=')) {
                    section.conditionOp[j] = char(inner[j].unicode());
                    ++j;
                }
                bool ok = false;
                section.conditionValue = inner.mid(j).trimmed().toDouble(&ok);
                section.hasCondition = ok;
            }
            // colours, scripts and calendars: nothing shown
        } else if (c == u'0' || c == u'#' || c == u'?') {
            tokens.push_back({Token::Digit, QString(c)});
            ++i;
        } else if (c == u'.') {
            qsizetype zeros = 0;
            while (i + 1 + zeros < n && code[i + 1 + zeros] == u'0')
                ++zeros;
            bool afterSeconds = false;
            for (auto t = tokens.rbegin(); t != tokens.rend(); ++t) {
                if (t->kind == Token::Literal)
                    continue;
                afterSeconds =
                    t->kind == Token::Second || (t->kind == Token::Elapsed && t->text == u"s");
                break;
            }
            if (afterSeconds && zeros > 0) {
                tokens.push_back({Token::SubSecond, QString(), int(std::min<qsizetype>(zeros, 3))});
                i += 1 + zeros;
            } else {
                bool seen = false;
                for (const Token &t : tokens)
                    seen = seen || t.kind == Token::Point;
                if (seen)
                    literal(QStringLiteral("."));
                else
                    tokens.push_back({Token::Point, QString()});
                ++i;
            }
        } else if (c == u',') {
            tokens.push_back({Token::Literal, QStringLiteral(","), 0}); // sorted out below
            ++i;
        } else if (c == u'%') {
            ++section.percent;
            literal(QStringLiteral("%"));
            ++i;
        } else if ((c == u'E' || c == u'e') && i + 1 < n &&
                   (code[i + 1] == u'+' || code[i + 1] == u'-')) {
            tokens.push_back({Token::Exponent, code.mid(i, 2).toUpper()});
            i += 2;
        } else if (c == u'/') {
            tokens.push_back({Token::Slash, QStringLiteral("/")});
            ++i;
        } else if (c == u'@') {
            tokens.push_back({Token::TextValue, QString()});
            ++i;
        } else if (rest.startsWith(u"General", Qt::CaseInsensitive)) {
            tokens.push_back({Token::General, QString()});
            i += 7;
        } else if (rest.startsWith(u"AM/PM", Qt::CaseInsensitive)) {
            tokens.push_back({Token::AmPm, rest.left(5).toString()});
            section.date = true;
            i += 5;
        } else if (rest.startsWith(u"A/P", Qt::CaseInsensitive)) {
            tokens.push_back({Token::AmPm, rest.left(3).toString()});
            section.date = true;
            i += 3;
        } else if (isDateLetter(c)) {
            const QChar letter = c.toLower();
            qsizetype run = 1;
            while (i + run < n && code[i + run].toLower() == letter)
                ++run;
            const Token::Kind kind = letter == u'y'   ? Token::Year
                                     : letter == u'm' ? Token::Month
                                     : letter == u'd' ? Token::Day
                                     : letter == u'h' ? Token::Hour
                                                      : Token::Second;
            tokens.push_back({kind, QString(), int(run)});
            section.date = true;
            i += run;
        } else {
            literal(QString(c));
            ++i;
        }
    }

    // m is minutes after an hour or before a second.
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != Token::Month)
            continue;
        bool minute = false;
        for (size_t j = i; j-- > 0;) {
            const Token::Kind k = tokens[j].kind;
            if (k == Token::Literal)
                continue;
            minute = k == Token::Hour || (k == Token::Elapsed && tokens[j].text == u"h");
            break;
        }
        for (size_t j = i + 1; !minute && j < tokens.size(); ++j) {
            const Token::Kind k = tokens[j].kind;
            if (k == Token::Literal)
                continue;
            minute = k == Token::Second || (k == Token::Elapsed && tokens[j].text == u"s");
            break;
        }
        if (minute)
            tokens[i].kind = Token::Minute;
    }

    // Commas: between digits they group thousands, after the last digit they scale by 1000.
    std::vector<Token> kept;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.kind != Token::Literal || t.size != 0) {
            kept.push_back(t);
            continue;
        }
        const bool afterDigit = !kept.empty() && kept.back().kind == Token::Digit;
        const bool beforeDigit = i + 1 < tokens.size() && tokens[i + 1].kind == Token::Digit;
        bool afterScale = false;
        for (size_t j = i; j-- > 0 && tokens[j].kind == Token::Literal && tokens[j].size == 0;) {
            if (j > 0 && tokens[j - 1].kind == Token::Digit)
                afterScale = true;
        }
        if (section.date) {
            kept.push_back({Token::Literal, QStringLiteral(","), 1});
        } else if (afterDigit && beforeDigit) {
            section.thousands = true;
        } else if ((afterDigit || afterScale) && !beforeDigit) {
            ++section.scale;
        } else {
            kept.push_back({Token::Literal, QStringLiteral(","), 1});
        }
    }
    tokens = std::move(kept);
    for (Token &t : tokens) {
        if (section.date && (t.kind == Token::Slash || t.kind == Token::Digit)) {
            t.kind = Token::Literal;
            t.size = 1;
        }
    }
    return section;
}

std::vector<QString> splitSections(const QString &code)
{
    std::vector<QString> sections;
    QString current;
    bool quoted = false;
    int bracket = 0;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == u'\\' && !quoted && i + 1 < code.size()) {
            current += c;
            current += code[++i];
            continue;
        }
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && c == u'[')
            ++bracket;
        else if (!quoted && c == u']')
            bracket = std::max(0, bracket - 1);
        if (c == u';' && !quoted && bracket == 0) {
            sections.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    sections.push_back(current);
    return sections;
}

bool conditionHolds(const Section &section, double value)
{
    const QLatin1StringView op(section.conditionOp);
    const double bound = section.conditionValue;
    if (op == "<")
        return value < bound;
    if (op == "<=")
        return value <= bound;
    if (op == ">")
        return value > bound;
    if (op == ">=")
        return value >= bound;
    if (op == "<>")
        return value != bound;
    return value == bound;
}

const char *const MonthNames[] = {"January",   "February", "March",    "April",
                                  "May",       "June",     "July",     "August",
                                  "September", "October",  "November", "December"};
const char *const DayNames[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                "Friday", "Saturday", "Sunday"};

QString padded(qint64 number, int width)
{
    return QString::number(number).rightJustified(width, u'0');
}

} // namespace

NumberFormat::NumberFormat(const QString &code)
{
    if (code.isEmpty() || code.compare(u"General", Qt::CaseInsensitive) == 0)
        return;
    for (const QString &part : splitSections(code))
        m_sections.push_back(parseSection(part));
}

QString NumberFormat::builtIn(int id)
{
    switch (id) {
    case 1:
        return QStringLiteral("0");
    case 2:
        return QStringLiteral("0.00");
    case 3:
        return QStringLiteral("#,##0");
    case 4:
        return QStringLiteral("#,##0.00");
    case 5:
        return QStringLiteral("\"$\"#,##0_);(\"$\"#,##0)");
    case 6:
        return QStringLiteral("\"$\"#,##0_);[Red](\"$\"#,##0)");
    case 7:
        return QStringLiteral("\"$\"#,##0.00_);(\"$\"#,##0.00)");
    case 8:
        return QStringLiteral("\"$\"#,##0.00_);[Red](\"$\"#,##0.00)");
    case 9:
        return QStringLiteral("0%");
    case 10:
        return QStringLiteral("0.00%");
    case 11:
        return QStringLiteral("0.00E+00");
    case 12:
        return QStringLiteral("# ?/?");
    case 13:
        return QStringLiteral("# ?\?/??");
    case 14:
        return QStringLiteral("m/d/yyyy");
    case 15:
        return QStringLiteral("d-mmm-yy");
    case 16:
        return QStringLiteral("d-mmm");
    case 17:
        return QStringLiteral("mmm-yy");
    case 18:
        return QStringLiteral("h:mm AM/PM");
    case 19:
        return QStringLiteral("h:mm:ss AM/PM");
    case 20:
        return QStringLiteral("h:mm");
    case 21:
        return QStringLiteral("h:mm:ss");
    case 22:
        return QStringLiteral("m/d/yyyy h:mm");
    case 37:
        return QStringLiteral("#,##0_);(#,##0)");
    case 38:
        return QStringLiteral("#,##0_);[Red](#,##0)");
    case 39:
        return QStringLiteral("#,##0.00_);(#,##0.00)");
    case 40:
        return QStringLiteral("#,##0.00_);[Red](#,##0.00)");
    case 41:
        return QStringLiteral("_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)");
    case 42:
        return QStringLiteral("_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)");
    case 43:
        return QStringLiteral("_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)");
    case 44:
        return QStringLiteral(
            "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)");
    case 45:
        return QStringLiteral("mm:ss");
    case 46:
        return QStringLiteral("[h]:mm:ss");
    case 47:
        return QStringLiteral("mm:ss.0");
    case 48:
        return QStringLiteral("##0.0E+0");
    case 49:
        return QStringLiteral("@");
    default:
        return {};
    }
}

QString NumberFormat::general(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("#NUM!");
    const double magnitude = std::fabs(value);
    if (magnitude == 0)
        return QStringLiteral("0");
    if (magnitude < 1e11 && value == std::trunc(value)) // whole numbers, the common case
        return QString::number(qint64(value));
    // At most "-0.000012346" or "-1.23457E-300": one buffer, one string.
    char buffer[32];
    char *out = buffer;
    if (value < 0)
        *out++ = '-';
    if (magnitude >= 1e-5 && magnitude < 1e11) {
        const int digits = magnitude >= 1 ? int(std::floor(std::log10(magnitude))) + 1 : 1;
        const int decimals = std::max(0, 10 - digits);
        out = writeGeneralDigits(out, roundedDigits(magnitude, decimals), decimals);
        return QString::fromLatin1(buffer, out - buffer);
    }
    int exponent = int(std::floor(std::log10(magnitude)));
    RoundedDigits mantissa = roundedDigits(magnitude / std::pow(10.0, exponent), 5);
    if (mantissa.pointAt > 1) { // 9.999995 became 10
        ++exponent;
        mantissa = roundedDigits(magnitude / std::pow(10.0, exponent), 5);
    }
    out = writeGeneralDigits(out, mantissa, 5);
    *out++ = 'E';
    *out++ = exponent < 0 ? '-' : '+';
    const int shown = std::abs(exponent);
    if (shown < 10)
        *out++ = '0';
    out = std::to_chars(out, buffer + sizeof buffer, shown).ptr;
    return QString::fromLatin1(buffer, out - buffer);
}

bool NumberFormat::isDate() const
{
    return !m_sections.empty() && m_sections.front().date;
}

const NumberFormat::Section *NumberFormat::pick(double value, bool &useAbsolute) const
{
    useAbsolute = false;
    // The sections for numbers: those before the text section (one with @).
    const Section *numeric[3] = {};
    int count = 0;
    for (const Section &s : m_sections) {
        bool text = false;
        for (const Token &t : s.tokens)
            text = text || t.kind == Token::TextValue;
        if (!text && count < 3)
            numeric[count++] = &s;
    }
    if (count == 0)
        return nullptr;
    if (numeric[0]->hasCondition) {
        for (int i = 0; i < count && i < 2; ++i) {
            if (!numeric[i]->hasCondition || conditionHolds(*numeric[i], value)) {
                useAbsolute = i > 0 && value < 0;
                return numeric[i];
            }
        }
        return count > 2 ? numeric[2] : nullptr;
    }
    if (value > 0 || count == 1)
        return numeric[0];
    if (value < 0) {
        useAbsolute = true;
        return numeric[1];
    }
    return count > 2 ? numeric[2] : numeric[0];
}

QString NumberFormat::format(double value, bool date1904) const
{
    if (m_sections.empty() || !std::isfinite(value))
        return general(value);
    bool useAbsolute = false;
    const Section *section = pick(value, useAbsolute);
    if (!section)
        return general(value);
    QString text;
    if (section->date) {
        text = formatDate(*section, value, date1904);
    } else {
        bool fraction = false;
        for (const Token &t : section->tokens)
            fraction = fraction || t.kind == Token::Slash;
        const double shown = useAbsolute ? std::fabs(value) : value;
        text = fraction ? formatFraction(*section, shown) : formatNumber(*section, shown);
    }
    return text.trimmed();
}

QString NumberFormat::formatNumber(const Section &section, double value)
{
    double v =
        std::fabs(value) * std::pow(100.0, section.percent) / std::pow(1000.0, section.scale);
    const auto &tokens = section.tokens;
    std::vector<QChar> intHolders, fracHolders;
    int expDigits = 0;
    QString expSign;
    int part = 0; // 0 integer, 1 fraction, 2 exponent
    bool digitsAnywhere = false, general = false;
    for (const Token &t : tokens) {
        if (t.kind == Token::Point && part == 0)
            part = 1;
        else if (t.kind == Token::Exponent) {
            part = 2;
            expSign = t.text;
        } else if (t.kind == Token::Digit) {
            digitsAnywhere = true;
            if (part == 0)
                intHolders.push_back(t.text[0]);
            else if (part == 1)
                fracHolders.push_back(t.text[0]);
            else
                ++expDigits;
        } else if (t.kind == Token::General) {
            general = true;
        }
    }

    int exponent = 0;
    QString integer, fraction;
    if (!expSign.isEmpty() && v != 0) {
        const int n = std::max<int>(1, int(intHolders.size()));
        bool allZeros = true;
        for (QChar h : intHolders)
            allZeros = allZeros && h == u'0';
        for (int attempt = 0; attempt < 2; ++attempt) {
            const int magnitude = int(std::floor(std::log10(v))) + attempt;
            exponent = allZeros ? magnitude - (n - 1) : int(std::floor(double(magnitude) / n)) * n;
            roundDecimal(v / std::pow(10.0, exponent), int(fracHolders.size()), integer, fraction);
            if (integer.size() <= n)
                break;
        }
    } else {
        roundDecimal(v, int(fracHolders.size()), integer, fraction);
    }
    bool zero = integer.isEmpty();
    for (QChar d : fraction)
        zero = zero && d == u'0';
    QString out = value < 0 && !zero && !general ? QStringLiteral("-") : QString();
    if (!digitsAnywhere && !general) { // only literals: the text, as Excel shows it
        for (const Token &t : tokens)
            if (t.kind == Token::Literal)
                out += t.text;
        return out;
    }

    std::vector<QString> intOut = fillRight(intHolders, integer);
    if (section.thousands) {
        QString joined;
        for (const QString &s : intOut)
            joined += s;
        intOut.assign(intOut.size(), QString());
        if (!intOut.empty())
            intOut[0] = groupThousands(joined);
    }
    // Fraction digits left to right; trailing zeros under # vanish, under ? become spaces.
    std::vector<QString> fracOut(fracHolders.size());
    for (size_t i = 0; i < fracHolders.size(); ++i)
        fracOut[i] = fraction[qsizetype(i)];
    for (size_t i = fracHolders.size(); i-- > 0;) {
        if (fracHolders[i] == u'0' || fracOut[i] != u"0")
            break;
        fracOut[i] = fracHolders[i] == u'?' ? QStringLiteral(" ") : QString();
    }

    size_t intIndex = 0, fracIndex = 0;
    int expIndex = 0;
    part = 0;
    for (const Token &t : tokens) {
        switch (t.kind) {
        case Token::Literal:
            out += t.text;
            break;
        case Token::General:
            out += NumberFormat::general(value);
            break;
        case Token::Point:
            if (part == 0) {
                if (intHolders.empty())
                    out += integer;
                part = 1;
                out += u'.';
            }
            break;
        case Token::Exponent:
            part = 2;
            out += u'E';
            if (exponent < 0)
                out += u'-';
            else if (expSign == u"E+")
                out += u'+';
            break;
        case Token::Digit:
            if (part == 0) {
                if (intIndex < intOut.size())
                    out += intOut[intIndex++];
            } else if (part == 1) {
                if (fracIndex < fracOut.size())
                    out += fracOut[fracIndex++];
            } else if (expIndex++ == 0) {
                out += padded(std::abs(exponent), expDigits);
            }
            break;
        default:
            break;
        }
    }
    return out;
}

QString NumberFormat::formatFraction(const Section &section, double value)
{
    const auto &tokens = section.tokens;
    size_t slash = 0;
    while (tokens[slash].kind != Token::Slash)
        ++slash;
    // Numerator: the digits right before the bar; a whole part: digits before those.
    size_t numStart = slash;
    while (numStart > 0 && tokens[numStart - 1].kind == Token::Digit)
        --numStart;
    std::vector<QChar> wholeHolders, numHolders, denHolders;
    for (size_t i = 0; i < numStart; ++i)
        if (tokens[i].kind == Token::Digit)
            wholeHolders.push_back(tokens[i].text[0]);
    for (size_t i = numStart; i < slash; ++i)
        numHolders.push_back(tokens[i].text[0]);
    size_t denEnd = slash + 1;
    qint64 fixedDenominator = 0;
    while (denEnd < tokens.size() && tokens[denEnd].kind == Token::Digit)
        denHolders.push_back(tokens[denEnd++].text[0]);
    if (denHolders.empty() && denEnd < tokens.size() && tokens[denEnd].kind == Token::Literal) {
        bool ok = false;
        QString lead;
        for (QChar c : tokens[denEnd].text) {
            if (!c.isDigit())
                break;
            lead += c;
        }
        fixedDenominator = lead.toLongLong(&ok);
        if (!ok)
            fixedDenominator = 0;
    }

    const double magnitude = std::fabs(value);
    if (magnitude >= 1e15)
        return general(value);
    double whole = wholeHolders.empty() ? 0 : std::floor(magnitude);
    const double rest = magnitude - whole;
    qint64 numerator = 0, denominator = 1;
    if (fixedDenominator > 0) {
        denominator = fixedDenominator;
        numerator = qint64(std::llround(rest * double(denominator)));
    } else {
        const qint64 maxDenominator =
            qint64(std::pow(10.0,
                            double(std::min<size_t>(std::max<size_t>(denHolders.size(), 1), 4)))) -
            1;
        double best = 2;
        for (qint64 d = 1; d <= maxDenominator; ++d) {
            const qint64 n = std::llround(rest * double(d));
            const double error = std::fabs(rest - double(n) / double(d));
            if (error < best - 1e-12) {
                best = error;
                numerator = n;
                denominator = d;
            }
            if (error == 0)
                break;
        }
    }
    if (!wholeHolders.empty() && numerator == denominator) {
        whole += 1;
        numerator = 0;
    }

    QString out = value < 0 ? QStringLiteral("-") : QString();
    const QString wholeDigits = whole > 0 ? QString::number(qint64(whole)) : QString();
    if (numerator == 0 && !wholeHolders.empty()) {
        // No fraction to show: the whole number alone, or 0.
        out += wholeDigits.isEmpty() ? QStringLiteral("0") : wholeDigits;
        return out;
    }
    std::vector<QString> wholeOut = fillRight(wholeHolders, wholeDigits);
    std::vector<QString> numOut = fillRight(numHolders, QString::number(numerator));
    const QString denDigits = QString::number(denominator);
    size_t w = 0, nIndex = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (i == denEnd && fixedDenominator > 0) {
            out += t.text; // the denominator as written
            continue;
        }
        if (t.kind == Token::Literal) {
            // The space between the whole part and an absent whole number goes too.
            if (!(i < numStart && wholeDigits.isEmpty() && i + 1 == numStart))
                out += t.text;
        } else if (t.kind == Token::Digit && i < numStart) {
            if (w < wholeOut.size())
                out += wholeOut[w++];
        } else if (t.kind == Token::Digit && i < slash) {
            if (nIndex < numOut.size())
                out += numOut[nIndex++];
        } else if (t.kind == Token::Slash) {
            out += u'/';
            if (!denHolders.empty()) {
                QString den = denDigits;
                while (den.size() < qsizetype(denHolders.size()))
                    den += u' ';
                out += den;
            }
        } else if (t.kind == Token::General) {
            out += NumberFormat::general(value);
        }
    }
    return out;
}

QString NumberFormat::formatDate(const Section &section, double value, bool date1904)
{
    // Excel shows ##### for dates it cannot place; a number is of more use to a search.
    if (value < 0 || value >= 2958466)
        return general(value);
    int subDigits = 0;
    bool twelveHour = false;
    for (const Token &t : section.tokens) {
        if (t.kind == Token::SubSecond)
            subDigits = std::max(subDigits, t.size);
        if (t.kind == Token::AmPm)
            twelveHour = true;
    }
    const double unitsPerSecond = std::pow(10.0, subDigits);
    qint64 units = std::llround(value * 86400.0 * unitsPerSecond);
    const qint64 unitsPerDay = qint64(86400 * unitsPerSecond);
    const qint64 days = units / unitsPerDay;
    const qint64 dayUnits = units % unitsPerDay;
    const qint64 seconds = dayUnits / qint64(unitsPerSecond);
    const qint64 subSeconds = dayUnits % qint64(unitsPerSecond);
    const qint64 totalSeconds = units / qint64(unitsPerSecond);
    const int hour = int(seconds / 3600), minute = int(seconds / 60 % 60),
              second = int(seconds % 60);

    int year = 1900, month = 1, day = 0, weekday = 5; // serial 0 is "January 0, 1900"
    if (date1904 || days != 0) {
        QDate date;
        if (date1904)
            date = QDate(1904, 1, 1).addDays(days);
        else if (days == 60) // the leap day 1900 never had, kept for Lotus' sake
            date = QDate(1900, 2, 28);
        else
            date = QDate(1899, 12, days < 60 ? 31 : 30).addDays(days);
        year = date.year();
        month = date.month();
        day = days == 60 && !date1904 ? 29 : date.day();
        weekday = days == 60 && !date1904 ? 3 : date.dayOfWeek() - 1;
    }

    QString out;
    for (const Token &t : section.tokens) {
        switch (t.kind) {
        case Token::Literal:
            out += t.text;
            break;
        case Token::Year:
            out += t.size <= 2 ? padded(year % 100, 2) : QString::number(year);
            break;
        case Token::Month:
            if (t.size <= 2)
                out += padded(month, t.size);
            else if (t.size == 3)
                out += QLatin1StringView(MonthNames[month - 1]).left(3);
            else if (t.size == 4)
                out += QLatin1StringView(MonthNames[month - 1]);
            else
                out += QLatin1Char(MonthNames[month - 1][0]);
            break;
        case Token::Day:
            if (t.size <= 2)
                out += padded(day, t.size);
            else if (t.size == 3)
                out += QLatin1StringView(DayNames[weekday]).left(3);
            else
                out += QLatin1StringView(DayNames[weekday]);
            break;
        case Token::Hour: {
            int h = hour;
            if (twelveHour) {
                h %= 12;
                if (h == 0)
                    h = 12;
            }
            out += padded(h, std::min(t.size, 2));
            break;
        }
        case Token::Minute:
            out += padded(minute, std::min(t.size, 2));
            break;
        case Token::Second:
            out += padded(second, std::min(t.size, 2));
            break;
        case Token::SubSecond:
            out += u'.' + padded(subSeconds, subDigits).left(t.size);
            break;
        case Token::AmPm: {
            const qsizetype slash = t.text.indexOf(u'/');
            out += hour < 12 ? t.text.left(slash) : t.text.mid(slash + 1);
            break;
        }
        case Token::Elapsed: {
            const qint64 amount = t.text == u"h"   ? totalSeconds / 3600
                                  : t.text == u"m" ? totalSeconds / 60
                                                   : totalSeconds;
            out += padded(amount, t.size);
            break;
        }
        case Token::General:
            out += general(value);
            break;
        default:
            break;
        }
    }
    return out;
}

} // namespace dv::textd
