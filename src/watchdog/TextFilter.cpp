#include "watchdog/TextFilter.h"

#include "frame/I18n.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>

namespace kes {

namespace {

// Only a..z are folded (to A..Z); every other character compares exactly.
inline char32_t UpAz(char32_t c)
{
    return (c >= u'a' && c <= u'z') ? c - (u'a' - u'A') : c;
}

// The character at s[i]; a well-formed surrogate pair is one character.
inline char32_t CodePointAt(const char16_t* s, qsizetype n, qsizetype i, int& len)
{
    const char16_t c = s[i];
    if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(s[i + 1])) {
        len = 2;
        return QChar::surrogateToUcs4(c, s[i + 1]);
    }
    len = 1;
    return c;
}

const char16_t kEmpty[1] = {0};

// The text has an extension: a "." after its last path delimiter.
bool HasExtension(QStringView text)
{
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        const QChar c = text[i];
        if (c == u'.')
            return true;
        if (c == u'/' || c == u'\\')
            return false;
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------- TMask

bool TMask::Compile(QStringView mask)
{
    FTokens.clear();
    FSets.clear();
    FValid = false;
    const char16_t* p = mask.utf16();
    const qsizetype n = mask.size();
    bool star = false;
    int starElements = 0;

    // Writes one element; a pending "*" goes in front of it and counts.
    auto put = [&](const TToken& t) {
        if (star) {
            if (++starElements > kMaxStarElements)
                return false;
            FTokens.push_back({tkStar, false, 0, 0});
            star = false;
        }
        FTokens.push_back(t);
        return true;
    };

    qsizetype i = 0;
    while (i < n) {
        int len;
        const char32_t c = CodePointAt(p, n, i, len);
        if (c == u'*') {
            star = true;
            i += len;
        } else if (c == u'?') {
            if (!star && !put({tkAny, false, 0, 0}))
                return false;
            i += len;
        } else if (c == u'[') {
            i += len;
            bool negate = false;
            if (i < n && p[i] == u'!') {
                negate = true;
                ++i;
            }
            std::array<quint64, 4> bits {};
            bool haveLast = false;
            char32_t last = 0;
            auto include = [&bits](char32_t from, char32_t to) {
                for (char32_t x = from; x <= to && x <= 255; ++x)
                    bits[x >> 6] |= quint64(1) << (x & 63);
            };
            for (;;) {
                if (i >= n)
                    return false; // no closing "]"
                const char32_t m = CodePointAt(p, n, i, len);
                i += len;
                if (m == u']')
                    break;
                if (m == u'-') {
                    if (!haveLast || i >= n)
                        return false; // a range without its first (or last) character
                    const char32_t e = UpAz(CodePointAt(p, n, i, len));
                    i += len;
                    include(last, e);
                    continue;
                }
                last = UpAz(m);
                haveLast = true;
                include(last, last);
            }
            if (FSets.size() >= 0xFFFF)
                return false;
            FSets.push_back(bits);
            if (!put({tkSet, negate, quint16(FSets.size() - 1), 0}))
                return false;
        } else {
            if (!put({tkChar, false, 0, UpAz(c)}))
                return false;
            i += len;
        }
    }
    if (star) {
        if (++starElements > kMaxStarElements)
            return false;
        FTokens.push_back({tkStar, false, 0, 0});
    }
    const auto isStar = [](const TToken& t) { return t.Kind == tkStar; };
    const auto first = std::find_if(FTokens.begin(), FTokens.end(), isStar);
    FHasStar = first != FTokens.end();
    FHead = size_t(first - FTokens.begin());
    FTail = FHasStar ? size_t(std::find_if(FTokens.rbegin(), FTokens.rend(), isStar) - FTokens.rbegin()) : 0;
    FValid = true;
    return true;
}

inline bool TMask::TokenMatches(const TToken& t, char32_t c) const
{
    switch (t.Kind) {
    case tkChar:
        return UpAz(c) == t.Char;
    case tkAny:
        return true;
    case tkSet: {
        const char32_t u = UpAz(c);
        const bool in = u <= 255 && (FSets[t.Set][u >> 6] >> (u & 63)) & 1;
        return in != t.Negate;
    }
    case tkStar:
        break;
    }
    return false;
}

bool TMask::Matches(QStringView text, bool appendDot) const
{
    if (!FValid)
        return false;
    const char16_t* s = text.utf16();
    const qsizetype n = text.size();
    const TToken* tok = FTokens.data();
    const size_t m = FTokens.size();

    // The text, with a "." after its end when appendDot.
    auto charAt = [&](qsizetype i, int& len) -> char32_t {
        if (i < n)
            return CodePointAt(s, n, i, len);
        len = 1;
        return u'.';
    };
    // The character that ends at e (surrogate pairs read backwards).
    auto charBefore = [&](qsizetype e, int& len) -> char32_t {
        if (e > n) {
            len = 1;
            return u'.';
        }
        const char16_t c = s[e - 1];
        if (QChar::isLowSurrogate(c) && e >= 2 && QChar::isHighSurrogate(s[e - 2])) {
            len = 2;
            return QChar::surrogateToUcs4(s[e - 2], c);
        }
        len = 1;
        return c;
    };

    // The elements before the first "*" must match the start of the text,
    // the ones after the last "*" its end; only the middle needs searching.
    qsizetype i = 0;
    qsizetype end = n + (appendDot ? 1 : 0);
    int len;
    for (size_t j = 0; j < FHead; ++j) {
        if (i >= end || !TokenMatches(tok[j], charAt(i, len)))
            return false;
        i += len;
    }
    if (!FHasStar)
        return i == end;
    for (size_t j = 0; j < FTail; ++j) {
        if (end <= i || !TokenMatches(tok[m - 1 - j], charBefore(end, len)))
            return false;
        end -= len;
    }

    // Middle part, which begins and ends with "*": a greedy match that
    // remembers only the last "*". When a later element fails, that star
    // takes one more character and the rest is retried; earlier stars never
    // need revisiting, because a match found with the last star placed
    // later is also a match. Time: O(text x longest star-free run).
    const size_t last = m - FTail;
    size_t j = FHead;
    size_t starJ = 0;
    bool haveStar = false;
    qsizetype starI = 0;
    while (i < end) {
        if (j < last && tok[j].Kind == tkStar) {
            haveStar = true;
            starJ = j++;
            starI = i;
            continue;
        }
        const char32_t c = charAt(i, len);
        if (j < last && TokenMatches(tok[j], c)) {
            i += len;
            ++j;
            continue;
        }
        if (!haveStar)
            return false;
        charAt(starI, len);
        starI += len;
        i = starI;
        j = starJ + 1;
    }
    while (j < last && tok[j].Kind == tkStar)
        ++j;
    return j == last;
}

bool MatchesMask(QStringView text, QStringView mask)
{
    TMask m;
    return m.Compile(mask) && m.Matches(text);
}

// ---------------------------------------------------------------- errors

EFilterError::EFilterError(const QString& message)
    : std::runtime_error(message.toUtf8().toStdString())
{
}

// ---------------------------------------------------------------- regex

struct TTextFilter::TRegex {
    pcre2_code* Code = nullptr;
    pcre2_match_data* Data = nullptr;
    pcre2_match_context* Context = nullptr;
    pcre2_jit_stack* JitStack = nullptr;
    bool Jit = false;

    ~TRegex()
    {
        pcre2_jit_stack_free(JitStack);
        pcre2_match_context_free(Context);
        pcre2_match_data_free(Data);
        pcre2_code_free(Code);
    }
};

void TTextFilter::CompileRegex(const QString& pattern)
{
    FRegex.reset();
    auto rx = std::make_unique<TRegex>();
    // UTF with invalid sequences allowed in subjects: names decoded from
    // invalid UTF-8 carry lone surrogates, which then simply match nothing.
    uint32_t options = PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF;
    if (FIgnoreCase)
        options |= PCRE2_CASELESS;
    int error = 0;
    PCRE2_SIZE offset = 0;
    const auto* p = pattern.utf16(); // never null, also for an empty text
    rx->Code = pcre2_compile(
        reinterpret_cast<PCRE2_SPTR>(p), PCRE2_SIZE(pattern.size()), options, &error, &offset, nullptr);
    if (!rx->Code)
        throw EFilterError(_("Illegal regular expression!"));
    rx->Context = pcre2_match_context_create(nullptr);
    rx->Data = pcre2_match_data_create(1, nullptr);
    if (!rx->Context || !rx->Data)
        throw std::bad_alloc();
    pcre2_set_match_limit(rx->Context, kMatchLimit);
    pcre2_set_depth_limit(rx->Context, kDepthLimit);
    if (pcre2_jit_compile(rx->Code, PCRE2_JIT_COMPLETE) == 0) {
        rx->Jit = true;
        rx->JitStack = pcre2_jit_stack_create(32 * 1024, 512 * 1024, nullptr);
        if (rx->JitStack)
            pcre2_jit_stack_assign(rx->Context, nullptr, rx->JitStack);
    }
    FRegex = std::move(rx);
}

bool TTextFilter::MatchRegEx(QStringView text) const
{
    if (!FRegex)
        const_cast<TTextFilter*>(this)->CompileRegex(FPattern);
    const char16_t* s = text.utf16();
    if (!s)
        s = kEmpty;
    // The JIT entry skips the interpreter's set-up; both honour the limits
    // of the match context.
    const auto subject = reinterpret_cast<PCRE2_SPTR>(s);
    const auto length = PCRE2_SIZE(text.size());
    const int rc = FRegex->Jit
        ? pcre2_jit_match(FRegex->Code, subject, length, 0, 0, FRegex->Data, FRegex->Context)
        : pcre2_match(FRegex->Code, subject, length, 0, 0, FRegex->Data, FRegex->Context);
    // >0 match, 0 match with a too small vector; negative: no match, a
    // limit was hit, or another error - all count as no match.
    if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT || rc == PCRE2_ERROR_HEAPLIMIT
        || rc == PCRE2_ERROR_JIT_STACKLIMIT)
        ++FLimitHits;
    return rc >= 0;
}

// ---------------------------------------------------------------- TTextFilter

TTextFilter::TTextFilter(bool isFileFilter, bool ignoreCase)
    : FIsFileFilter(isFileFilter)
    , FIgnoreCase(ignoreCase)
{
    Reset();
}

TTextFilter::~TTextFilter() = default;
TTextFilter::TTextFilter(TTextFilter&&) noexcept = default;
TTextFilter& TTextFilter::operator=(TTextFilter&&) noexcept = default;

void TTextFilter::Reset()
{
    FRegExp = false;
    FMode = fmOff;
    FMask = QStringLiteral("*");
    FPattern = QStringLiteral(".");
    FRegex.reset();
    CompileMaskList();
}

QString TTextFilter::NextItem(QString& s, QChar sep)
{
    const qsizetype pos = s.indexOf(sep);
    QString item;
    if (pos < 0) {
        item = s;
        s.clear();
    } else {
        item = s.left(pos);
        s.remove(0, pos + 1);
    }
    return item;
}

void TTextFilter::CompileMaskList()
{
    FItems.clear();
    QStringView s = FMask;
    FAndMode = s.startsWith(u'+');
    if (FAndMode)
        s = s.mid(1);
    // Items as NextItem takes them: a trailing separator adds no item.
    for (;;) {
        const qsizetype pos = s.indexOf(FSep);
        QStringView item = pos < 0 ? s : s.left(pos);
        s = pos < 0 ? QStringView() : s.mid(pos + 1);
        TItem it;
        it.Empty = item.isEmpty();
        if (!it.Empty) {
            it.Invert = item.startsWith(u'!');
            if (it.Invert)
                item = item.mid(1);
            it.EndsWithDot = item.endsWith(u'.');
            it.Mask.Compile(item);
        }
        FItems.push_back(std::move(it));
        if (s.isEmpty())
            break;
    }
}

void TTextFilter::SetFilter(const QString& value)
{
    if (FRegExp) {
        FPattern = value.isEmpty() ? QStringLiteral(".") : value;
        try {
            CompileRegex(FPattern);
        } catch (const EFilterError&) {
            FPattern = QStringLiteral(".");
            CompileRegex(FPattern);
            throw;
        }
        MatchRegEx(u"xyz");
        return;
    }

    if (value.isEmpty()) {
        FMask = QStringLiteral("*");
    } else if (FIsFileFilter) {
        // The "+" of an AND list belongs to the list, not to its first item.
        const bool andMode = value.startsWith(u'+');
        QStringList items = value.mid(andMode ? 1 : 0).split(FSep);
        for (QString& item : items) {
            if (!item.isEmpty() && !HasExtension(item))
                item += QStringLiteral(".*");
        }
        FMask = (andMode ? QStringLiteral("+") : QString()) + items.join(FSep);
    } else {
        FMask = value;
    }
    CompileMaskList();
    const bool invalid = std::any_of(
        FItems.begin(), FItems.end(), [](const TItem& it) { return !it.Empty && !it.Mask.IsValid(); });
    if (invalid) {
        FMask = QStringLiteral("*");
        CompileMaskList();
        throw EFilterError(_("Illegal mask!"));
    }
}

bool TTextFilter::MatchesFilter(QStringView text) const
{
    if (FMode == fmOff)
        return true;
    bool r;
    if (FRegExp) {
        r = MatchRegEx(text);
    } else {
        r = true;
        const bool noExtension = FIsFileFilter && !HasExtension(text);
        for (const TItem& it : FItems) {
            if (!it.Empty) {
                const bool m = it.Mask.Matches(text, noExtension && it.EndsWithDot) != it.Invert;
                r = FAndMode ? (r && m) : m;
            }
            if (FAndMode ? !r : r)
                break;
        }
    }
    return FMode == fmExclude ? !r : r;
}

} // namespace kes
