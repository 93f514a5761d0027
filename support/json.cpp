#include "support/json.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

namespace kesp {

namespace {

// Byte classes of the tokenizer.
enum : unsigned char {
    _invalid, _lbracket, _rbracket, _lbrace, _rbrace, _comma, _colon, _quote, _backslash,
    _slash, _a, _b, _cd, _e, _f, _l, _n, _r, _s, _t, _u, _zero, _digit, _minus, _plus,
    _point, _upper_e, _upper_hex, _other, _space, _end,
    _classes
};

constexpr int _scan_states = 36;
constexpr int _in_string = 22;

// Results of the tokenizer's table from _accept on: a finished token (_accept plus
// its kind), a finished run of white space, or a NUL byte inside a string, which
// may be the end of the text.
enum : signed char {
    _accept = 52,
    _accept_end = _accept, _accept_null, _accept_bool, _accept_number, _accept_string,
    _accept_lbracket, _accept_rbracket, _accept_lbrace, _accept_rbrace, _accept_comma,
    _accept_colon, _restart, _nul_in_string
};

constexpr std::array<unsigned char, 256> _make_group()
{
    std::array<unsigned char, 256> g{};
    for (int b = 0; b < 256; ++b)
        g[b] = b < 0x20 || b >= 0xF0 ? _invalid : _other;
    g[0] = _end;
    g['\t'] = g['\n'] = g['\r'] = g[' '] = _space;
    g['['] = _lbracket;
    g[']'] = _rbracket;
    g['{'] = _lbrace;
    g['}'] = _rbrace;
    g[','] = _comma;
    g[':'] = _colon;
    g['"'] = _quote;
    g['\\'] = _backslash;
    g['/'] = _slash;
    g['a'] = _a;
    g['b'] = _b;
    g['c'] = g['d'] = _cd;
    g['e'] = _e;
    g['f'] = _f;
    g['l'] = _l;
    g['n'] = _n;
    g['r'] = _r;
    g['s'] = _s;
    g['t'] = _t;
    g['u'] = _u;
    g['0'] = _zero;
    for (int b = '1'; b <= '9'; ++b)
        g[b] = _digit;
    g['-'] = _minus;
    g['+'] = _plus;
    g['.'] = _point;
    g['E'] = _upper_e;
    g['A'] = g['B'] = g['C'] = g['D'] = g['F'] = _upper_hex;
    return g;
}

constexpr std::array<signed char, _scan_states * _classes> _make_scan_trans()
{
    std::array<signed char, _scan_states * _classes> t{};
    for (auto& v : t)
        v = -1;
    auto set = [&](int s, int c, int v) { t[s * _classes + c] = static_cast<signed char>(v); };
    // A finished token ends before any byte but an invalid one.
    auto rest = [&](int s, int v) {
        for (int c = _invalid + 1; c < _classes; ++c)
            if (t[s * _classes + c] == -1)
                set(s, c, v);
    };
    auto digits = [&](int s, int v) {
        set(s, _zero, v);
        set(s, _digit, v);
    };
    auto hex = [&](int s, int v) {
        for (int c : {_a, _b, _cd, _e, _f, _zero, _digit, _upper_e, _upper_hex})
            set(s, c, v);
    };

    set(0, _lbracket, 29);
    set(0, _rbracket, 30);
    set(0, _lbrace, 31);
    set(0, _rbrace, 32);
    set(0, _comma, 33);
    set(0, _colon, 34);
    set(0, _quote, _in_string);
    set(0, _f, 5);
    set(0, _n, 10);
    set(0, _t, 1);
    set(0, _zero, 15);
    set(0, _digit, 16);
    set(0, _minus, 14);
    set(0, _space, 35);
    set(0, _end, _accept_end);

    set(1, _r, 2);
    set(2, _u, 3);
    set(3, _e, 4);
    rest(4, _accept_bool);
    set(5, _a, 6);
    set(6, _l, 7);
    set(7, _s, 8);
    set(8, _e, 9);
    rest(9, _accept_bool);
    set(10, _u, 11);
    set(11, _l, 12);
    set(12, _l, 13);
    rest(13, _accept_null);

    set(14, _zero, 15);
    set(14, _digit, 16);
    set(15, _point, 17);
    set(15, _e, 19);
    set(15, _upper_e, 19);
    rest(15, _accept_number);
    digits(16, 16);
    set(16, _point, 17);
    set(16, _e, 19);
    set(16, _upper_e, 19);
    rest(16, _accept_number);
    digits(17, 18);
    digits(18, 18);
    set(18, _e, 19);
    set(18, _upper_e, 19);
    rest(18, _accept_number);
    digits(19, 21);
    set(19, _minus, 20);
    set(19, _plus, 20);
    digits(20, 21);
    digits(21, 21);
    rest(21, _accept_number);

    set(_in_string, _quote, 28);
    set(_in_string, _backslash, 23);
    set(_in_string, _end, _nul_in_string);
    rest(_in_string, _in_string);
    for (int c : {_quote, _backslash, _slash, _b, _f, _n, _r, _t})
        set(23, c, _in_string);
    set(23, _u, 24);
    hex(24, 25);
    hex(25, 26);
    hex(26, 27);
    hex(27, _in_string);
    rest(28, _accept_string);

    rest(29, _accept_lbracket);
    rest(30, _accept_rbracket);
    rest(31, _accept_lbrace);
    rest(32, _accept_rbrace);
    rest(33, _accept_comma);
    rest(34, _accept_colon);
    set(35, _space, 35);
    rest(35, _restart);
    return t;
}

// The tokenizer's table as reading ahead uses it: each entry is the whole step for
// a byte. A token that ends before the byte is finished and the byte begins the
// next one, so the byte goes through state 0 in the same step. The entry holds the
// row offset of the state reached, apart from the rest so that loading it is all
// that lies between one byte's state and the next; and the action: the kind of the
// finished token, whether one is finished and whether one begins. What needs more
// (an error, the end, a NUL in a string) stops the pass.
struct Step {
    std::uint16_t row;
    std::uint16_t act;
};

// A state's row as the step table holds it: its offset in bytes.
constexpr int _row_bytes = _classes * sizeof(Step);

// The action's bits. A finished token is kept by moving the queue's end on by the
// action's _emits bits, which are the size of a queued token, or none.
constexpr std::uint16_t _emits = 0x18;
constexpr std::uint16_t _begins = 0x20;
constexpr std::uint16_t _kind_shift = 8;
constexpr std::uint16_t _stop = 0x8000;

constexpr std::array<Step, _scan_states * _classes> _make_scan_steps()
{
    auto t = _make_scan_trans();
    std::array<Step, _scan_states * _classes> steps{};
    auto is_state = [](int v) { return v >= 0 && v < _scan_states; };
    for (int s = 0; s != _scan_states; ++s) {
        for (int c = 0; c != _classes; ++c) {
            int v = t[s * _classes + c];
            Step e{0, _stop};
            if (is_state(v)) {
                e = {static_cast<std::uint16_t>(v * _row_bytes), s == 0 ? _begins : std::uint16_t{0}};
            } else if (v > _accept_end && v <= _restart && is_state(t[c])) {
                e = {static_cast<std::uint16_t>(t[c] * _row_bytes), _begins};
                if (v != _restart)
                    e.act |= static_cast<std::uint16_t>(_emits | (v - _accept) << _kind_shift);
            }
            steps[s * _classes + c] = e;
        }
    }
    return steps;
}

// The parser's table: each entry is (next top row << 4 | event), a state's row
// being its offset in the table, which is also how the stack holds states. Event
// 15 is a bare state change that reads on; next row _pop pops. Array and object
// openings push their own state on top of the next one.
constexpr int _parse_states = 9;
constexpr int _kinds_count = 11;
constexpr unsigned _no_event = 15;
constexpr unsigned _pop = 0x7F;
constexpr std::uint16_t _error = 0xFFFF;
constexpr unsigned _array_begins = 5;
constexpr unsigned _object_begins = 7;
constexpr int _array_row = 1 * _kinds_count;
constexpr int _object_row = 4 * _kinds_count;

constexpr std::array<std::uint16_t, _parse_states * _kinds_count> _make_parse_trans()
{
    std::array<std::uint16_t, _parse_states * _kinds_count> t{};
    for (auto& v : t)
        v = _error;
    constexpr int pop = -1;
    auto set = [&](int s, int k, int next, unsigned event) {
        unsigned row = next == pop ? _pop : static_cast<unsigned>(next * _kinds_count);
        t[s * _kinds_count + k] = static_cast<std::uint16_t>(row << 4 | event);
    };
    // A value: a scalar gives its event, an opening gives its event and pushes.
    auto value = [&](int s, int next) {
        for (unsigned k = 1; k <= 4; ++k)
            set(s, static_cast<int>(k), next, k);
        set(s, 5, next, _array_begins);
        set(s, 7, next, _object_begins);
    };
    value(0, 0);
    set(0, 0, pop, 0);
    value(1, 2);
    set(1, 6, pop, 6);
    set(2, 6, pop, 6);
    set(2, 9, 3, _no_event);
    value(3, 2);
    set(4, 4, 5, 4);
    set(4, 8, pop, 8);
    set(5, 10, 6, _no_event);
    value(6, 7);
    set(7, 8, pop, 8);
    set(7, 9, 8, _no_event);
    set(8, 4, 5, 4);
    return t;
}

using Member = std::pair<Json, Json>;

template <class T> T* _allocate(std::size_t n)
{
    return n ? static_cast<T*>(::operator new(n * sizeof(T))) : nullptr;
}

// Moves [first, last) to the uninitialised values at to. Moving a value is copying
// its bytes and leaving zeros, which read as none, so a range moves at the speed of
// copying memory.
void _relocate(Json* first, Json* last, Json* to)
{
    static_assert(std::is_standard_layout_v<Json> && static_cast<int>(Json::Type::none) == 0);
    if (first == last)
        return;
    auto bytes = static_cast<std::size_t>(last - first) * sizeof(Json);
    std::memcpy(static_cast<void*>(to), static_cast<void*>(first), bytes);
    std::memset(static_cast<void*>(first), 0, bytes);
}

// Values moved off the builder's stack at a time: 32 KiB, which stay in the first
// level cache while they are copied, cleared and dropped.
constexpr std::size_t _stretch = 2048;

bool _is_container(const Json& v)
{
    return v.type == Json::Type::arr || v.type == Json::Type::obj;
}

// Containers nested deeper than this below the one being destroyed are freed from a
// work list instead of by recursion, so no nesting depth can exhaust the stack.
constexpr int _max_free_depth = 64;

// Frees v's block with everything in it and leaves v empty. Once the containers in
// it are freed, what is left owns nothing and needs no destructor call.
void _free(Json& v, int depth, std::vector<Json>& deep)
{
    auto take = [&](Json& c) {
        if (!_is_container(c))
            return;
        if (depth < _max_free_depth)
            _free(c, depth + 1, deep);
        else
            deep.push_back(std::move(c));
    };
    if (v.type == Json::Type::arr) {
        auto elements = static_cast<Json*>(v.data);
        for (std::uint32_t i = 0; i != v.size; ++i)
            take(elements[i]);
        ::operator delete(v.data);
    } else {
        auto members = static_cast<Member*>(v.data);
        for (std::uint32_t i = 0; i != v.size; ++i) {
            take(members[i].first);
            take(members[i].second);
        }
        ::operator delete(v.data);
    }
    v.data = nullptr;
    v.size = 0;
    v.type = Json::Type::none;
}

std::string_view _key(const Member& m)
{
    return {static_cast<const char*>(m.first.data), m.first.size};
}

}  // namespace

void Json_scanner::read_ahead()
{
    static_assert(sizeof(Token) == _emits);
    static constexpr auto group = _make_group();
    static constexpr auto trans = _make_scan_trans();
    static constexpr auto steps = _make_scan_steps();
    const char* const end = text.data() + text.size();
    const char* p = ahead;
    const char* first = ahead_first;
    unsigned row = ahead_row;
    Token* q = queue;
    // A stopping step may queue two tokens.
    Token* const full = queue + _queue - 1;
    auto kind = [](int k) { return static_cast<std::uint32_t>(k) << _kind_shift; };
    while (q < full) {
        // The column is found from the byte alone, off the chain of states; the row
        // (in bytes) is then all the address still waits for. The empty asm keeps
        // the compiler from adding the row to the table's start first instead.
        auto column = reinterpret_cast<const char*>(steps.data() + group[static_cast<unsigned char>(*p)]);
        asm("" : "+r"(column));
        unsigned act = *reinterpret_cast<const std::uint16_t*>(column + row + offsetof(Step, act));
        if (act & _stop) [[unlikely]] {
            int c = group[static_cast<unsigned char>(*p)];
            int v = trans[row / sizeof(Step) + c];
            if (v == _nul_in_string && p != end) {
                // Only an ordinary byte of the string.
                row = _in_string * _row_bytes;
                ++p;
                continue;
            }
            if (v > _accept_end && v < _restart)
                *q++ = {first, p, kind(v - _accept)};
            if (v > _accept_end && v <= _restart) {
                first = p;
                v = trans[c];
            }
            if (v == _accept_end) {
                *q++ = {p, p, kind(0)};
                first = p;
                row = 0;
            } else {
                // A rejected byte, or a string still open at the end of the text.
                *q++ = {first, p, kind(_rejected)};
            }
            break;
        }
        // Written whether or not a token ends here; only an ending one is kept.
        *q = {first, p, act};
        q = reinterpret_cast<Token*>(reinterpret_cast<char*>(q) + (act & _emits));
        first = act & _begins ? p : first;
        row = *reinterpret_cast<const std::uint16_t*>(column + row);
        ++p;
    }
    ahead = p;
    ahead_first = first;
    ahead_row = row;
    head = 0;
    count = static_cast<int>(q - queue);
}

int Json_scanner::operator()()
{
    while (head == count)
        read_ahead();
    const Token& t = queue[head++];
    start = t.first;
    cur = t.last;
    int kind = static_cast<int>(t.act >> _kind_shift & 15);
    if (kind == _rejected) [[unlikely]]
        error(tok(), "syntax error");
    return kind;
}

unsigned Json_parser::operator()()
{
    static constexpr auto trans = _make_parse_trans();
    for (;;) {
        unsigned a = trans[static_cast<unsigned>(stack.back() + lexer())];
        if (a == _error)
            lexer.error(lexer.tok(), "unexpected token");
        unsigned next = a >> 4;
        unsigned event = a & 15;
        if (next == _pop) {
            stack.pop_back();
            return event;
        }
        stack.back() = static_cast<int>(next);
        if (event == _no_event)
            continue;
        if (event == _array_begins)
            stack.push_back(_array_row);
        else if (event == _object_begins)
            stack.push_back(_object_row);
        return event;
    }
}

Json::Json(Json* first, Json* last)
    : data(_allocate<Json>(static_cast<std::size_t>(last - first))),
      size(static_cast<std::uint32_t>(last - first)), type(Type::arr)
{
    _relocate(first, last, static_cast<Json*>(data));
}

Json::Json(Member* first, Member* last)
    : data(_allocate<Member>(static_cast<std::size_t>(last - first))),
      size(static_cast<std::uint32_t>(last - first)), type(Type::obj)
{
    std::uninitialized_move(first, last, static_cast<Member*>(data));
}

Json::Json(Json&& other) noexcept : data(other.data), size(other.size), type(other.type)
{
    other.data = nullptr;
    other.size = 0;
    other.type = Type::none;
}

Json& Json::operator=(Json&& other) noexcept
{
    std::swap(data, other.data);
    std::swap(size, other.size);
    std::swap(type, other.type);
    return *this;
}

Json::~Json()
{
    if (!_is_container(*this))
        return;
    std::vector<Json> deep;
    _free(*this, 0, deep);
    while (!deep.empty()) {
        Json v = std::move(deep.back());
        deep.pop_back();
        _free(v, 0, deep);
    }
}

bool Json::bol() const
{
    if (type != Type::bol)
        throw std::bad_cast();
    return *static_cast<const char*>(data) == 't';
}

std::string_view Json::str() const
{
    if (type != Type::str)
        throw std::bad_cast();
    return {static_cast<const char*>(data), size};
}

Json_arr Json::arr() const
{
    if (type != Type::arr)
        throw std::bad_cast();
    auto first = static_cast<Json*>(data);
    return {first, first + size};
}

Json_obj Json::obj() const
{
    if (type != Type::obj)
        throw std::bad_cast();
    auto first = static_cast<Member*>(data);
    return {first, first + size};
}

const Json& Json_arr::at(std::uint64_t i) const
{
    if (i >= static_cast<std::uint64_t>(last - first))
        throw std::out_of_range("kesp::Json_arr accessed out of range");
    return first[i];
}

const Json& Json_obj::at(const char* key) const
{
    if (auto v = find(key))
        return *v;
    throw std::out_of_range(std::string("kesp::Json_obj does not have \"") + key + "\"");
}

const Json* Json_obj::find(const char* key) const
{
    std::string_view k = key;
    auto m = std::lower_bound(first, last, k, [](const Member& m, std::string_view k) { return _key(m) < k; });
    return m != last && _key(*m) == k ? &m->second : nullptr;
}

Json_build::Json_build(const std::string_view& text) : parser(text)
{
    // Scalars and counts are held in 32 bits.
    if (text.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("kesp::Json_build text too long");
    // Values inside containers are at least two bytes apart, so this is room for all
    // that can be open at once in any sensible text: the stack is allocated once and
    // never moved, and pages it doesn't reach are never touched.
    values.reserve(text.size() / 2 + 1);
}

// Flattened so the parser and tokenizer run inline in this loop: the calls per
// token cost more than the work.
[[gnu::flatten]] Json Json_build::build()
{
    for (;;) {
        switch (parser()) {
        case 0:
            // A document needs a value: an empty text fails like a missing one.
            if (values.empty())
                parser.lexer.error(parser.tok(), "unexpected token");
            return std::move(values.back());
        case 1:
            values.push_back(make_nul(parser.tok()));
            break;
        case 2:
            values.push_back(make_bol(parser.tok()));
            break;
        case 3:
            values.push_back(make_num(parser.tok()));
            break;
        case 4:
            values.push_back(make_str(parser.tok()));
            break;
        case 5:
        case 7:
            marks.push_back(values.size());
            break;
        case 6:
            build_array();
            break;
        case 8:
            build_object();
            break;
        }
    }
}

Json Json_build::make_nul(std::string_view tok)
{
    return {tok.data(), static_cast<unsigned>(tok.size()), Json::Type::nul};
}

Json Json_build::make_bol(std::string_view tok)
{
    return {tok.data(), static_cast<unsigned>(tok.size()), Json::Type::bol};
}

Json Json_build::make_num(std::string_view tok)
{
    return {tok.data(), static_cast<unsigned>(tok.size()), Json::Type::num};
}

Json Json_build::make_str(std::string_view tok)
{
    return {tok.data() + 1, static_cast<unsigned>(tok.size() - 2), Json::Type::str};
}

// Takes the values from height m up off the stack into a new array, a stretch at
// a time from the top, so that each value is read from memory once.
Json Json_build::make_arr(std::size_t m)
{
    auto n = values.size() - m;
    Json arr;
    arr.data = _allocate<Json>(n);
    arr.size = static_cast<std::uint32_t>(n);
    arr.type = Json::Type::arr;
    auto block = static_cast<Json*>(arr.data);
    while (values.size() != m) {
        auto k = std::min(values.size() - m, _stretch);
        auto top = values.size() - k;
        _relocate(values.data() + top, values.data() + top + k, block + (top - m));
        values.resize(top);
    }
    return arr;
}

// Pairs up alternating keys and values straight into the object's own block and
// sorts them there, so each object costs one allocation.
Json Json_build::make_obj(Json* first, Json* last)
{
    auto n = static_cast<std::size_t>(last - first) / 2;
    Json obj;
    obj.data = _allocate<Member>(n);
    auto members = static_cast<Member*>(obj.data);
    for (std::size_t i = 0; i != n; ++i)
        new (members + i) Member(std::move(first[2 * i]), std::move(first[2 * i + 1]));
    obj.size = static_cast<std::uint32_t>(n);
    obj.type = Json::Type::obj;
    std::sort(members, members + n, [](const Member& a, const Member& b) { return _key(a) < _key(b); });
    return obj;
}

void Json_build::build_array()
{
    Json arr = make_arr(static_cast<std::size_t>(marks.back()));
    values.push_back(std::move(arr));
    marks.pop_back();
}

void Json_build::build_object()
{
    auto m = static_cast<std::size_t>(marks.back());
    Json obj = make_obj(values.data() + m, values.data() + values.size());
    values.resize(m);
    values.push_back(std::move(obj));
    marks.pop_back();
}

Json_doc::Json_doc(const std::string& text) : text(text), value(Json_build(this->text).build()) {}

Json_doc::Json_doc(std::string&& text) : text(std::move(text)), value(Json_build(this->text).build()) {}

int parse_codepoint(const char*& p)
{
    int cp = 0;
    for (int i = 0; i != 4; ++i) {
        char c = *p++;
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0)
            std::abort();
        cp = cp << 4 | d;
    }
    return cp;
}

std::string escape_json_string(std::string_view raw)
{
    std::string out;
    out.reserve(raw.size());
    const char* p = raw.data();
    const char* const end = p + raw.size();
    while (p != end) {
        char c = *p++;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        // The tokenizer lets only complete escapes through; anything else is a
        // caller's fault, and guessing would corrupt the text.
        if (p == end)
            std::abort();
        switch (*p++) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u':
            if (end - p < 4)
                std::abort();
            push_utf8(out, parse_codepoint(p));
            break;
        default: std::abort();
        }
    }
    return out;
}

}  // namespace kesp
