#include "support/json.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

namespace kesp {

namespace {

// Byte classes of the tokenizer. _lead4 is the first byte of a four-byte UTF-8
// sequence, a character beyond the Basic Multilingual Plane: text inside a
// string, invalid anywhere else.
enum : unsigned char {
    _invalid, _lbracket, _rbracket, _lbrace, _rbrace, _comma, _colon, _quote, _backslash,
    _slash, _a, _b, _cd, _e, _f, _l, _n, _r, _s, _t, _u, _zero, _digit, _minus, _plus,
    _point, _upper_e, _upper_hex, _other, _space, _end, _lead4,
    _classes
};

constexpr int _scan_states = 36;

// The tokenizer's table is kept row by row, one row of classes per state.
constexpr std::size_t _cell(std::size_t s, std::size_t c)
{
    return s * _classes + c;
}

constexpr int _int_digits = 16;
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
        g[b] = b < 0x20 || b >= 0xF5 ? _invalid : _other;
    for (int b = 0xF0; b <= 0xF4; ++b)
        g[b] = _lead4;
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
    auto set = [&](int s, int c, int v) { t[_cell(s, c)] = static_cast<signed char>(v); };
    // A finished token ends before any byte that may stand outside a string.
    auto rest = [&](int s, int v) {
        for (int c = _invalid + 1; c < _classes; ++c)
            if (c != _lead4 && t[_cell(s, c)] == -1)
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
    set(_in_string, _lead4, _in_string);
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

// The parser's table: for each state and token kind, the next top state and the
// event given (_no_event: a bare state change that reads on). Array and object
// openings also push their own state on top of the next one. States are held, in
// the table and on the parser's stack, as the offset of their row, so a token's
// entry is its state plus its kind: each token's lookup waits on the one before,
// and that keeps the wait short.
constexpr int _parse_states = 9;
constexpr int _kinds_count = 11;

struct Parse_step {
    unsigned char next;   // the row of the next top state, or _pop
    unsigned char event;  // the event given, or _no_event to read on
};

constexpr unsigned char _pop = 0xFE;
constexpr unsigned char _error = 0xFF;
constexpr unsigned _no_event = 15;
constexpr unsigned _array_begins = 5;
constexpr unsigned _object_begins = 7;
constexpr int _array_row = 1 * _kinds_count;
constexpr int _object_row = 4 * _kinds_count;

constexpr std::array<Parse_step, _parse_states * _kinds_count> _make_parse_trans()
{
    std::array<Parse_step, _parse_states * _kinds_count> t{};
    for (auto& v : t)
        v = {_error, 0};
    constexpr int pop = -1;
    auto set = [&](int s, int k, int next, unsigned event) {
        auto row = next == pop ? _pop : static_cast<unsigned char>(next * _kinds_count);
        t[s * _kinds_count + k] = {row, static_cast<unsigned char>(event)};
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

// The tokenizer and the parser step. Inline, so that the builder's loop runs them
// without a call per token, which would cost as much as their work.
inline int _next_token(Json_scanner& lexer)
{
    static constexpr auto group = _make_group();
    static constexpr auto trans = _make_scan_trans();
    // The cursor is kept here and written back with the token: written through at
    // every byte it would be stored again and again, as the text's bytes, being
    // chars, might be the cursor's own.
    const char* cur = lexer.cur;
    for (;;) {
        const char* start = cur;
        std::size_t s = 0;
        // Tile numbers are most of a map. The digits of an integer part are taken
        // straight from the bytes, so that where they end is known without waiting
        // for a lookup per digit; the table goes on from the byte after them.
        if (*cur >= '1' && *cur <= '9') {
            do
                ++cur;
            while (*cur >= '0' && *cur <= '9');
            s = _int_digits;
        }
        int v;
        for (;;) {
            v = trans[_cell(s, group[static_cast<unsigned char>(*cur)])];
            if (v >= 0 && v < _scan_states) {
                s = static_cast<std::size_t>(v);
                ++cur;
            } else if (v == _nul_in_string && cur != lexer.text.data() + lexer.text.size()) {
                // Only an ordinary byte of the string.
                s = _in_string;
                ++cur;
            } else {
                break;
            }
        }
        if (v == _restart)
            continue;
        lexer.start = start;
        lexer.cur = cur;
        // A rejected byte, or a string still open at the end of the text.
        if (v < _accept || v == _nul_in_string)
            lexer.error(lexer.tok(), "syntax error");
        return v - _accept;
    }
}

inline unsigned _next_event(Json_parser& parser)
{
    static constexpr auto trans = _make_parse_trans();
    auto& stack = parser.stack;
    // The top row is kept here while bare state changes read on.
    auto row = static_cast<std::size_t>(stack.back());
    for (;;) {
        auto kind = static_cast<std::size_t>(_next_token(parser.lexer));
        Parse_step step = trans[row + kind];
        if (step.next == _error)
            parser.lexer.error(parser.tok(), "unexpected token");
        if (step.next == _pop) {
            stack.pop_back();
            return step.event;
        }
        row = step.next;
        if (step.event == _no_event)
            continue;
        stack.back() = static_cast<int>(row);
        if (step.event == _array_begins)
            stack.push_back(_array_row);
        else if (step.event == _object_begins)
            stack.push_back(_object_row);
        return step.event;
    }
}

}  // namespace

int Json_scanner::operator()()
{
    return _next_token(*this);
}

unsigned Json_parser::operator()()
{
    return _next_event(*this);
}

Json::Json(Json* first, Json* last)
    : data(_allocate<Json>(static_cast<std::size_t>(last - first))),
      size(static_cast<std::uint32_t>(last - first)), type(Type::arr)
{
    std::uninitialized_move(first, last, static_cast<Json*>(data));
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

Json_stack::~Json_stack()
{
    while (!empty())
        pop();
}

void Json_stack::push(Json&& v)
{
    if (top == end)
        grow();
    new (top) Json(std::move(v));
    ++top;
}

Json Json_stack::pop()
{
    if (top == base)
        shrink();
    --top;
    Json v(std::move(*top));
    top->~Json();
    return v;
}

// Moves up to the next chunk, the first one on the first push.
void Json_stack::grow()
{
    std::size_t next = base ? level + 1 : 0;
    if (next == chunks.size()) {
        std::unique_ptr<Json, Free_chunk> chunk(_allocate<Json>(chunk_size));
        chunks.push_back(std::move(chunk));
    }
    level = next;
    base = top = chunks[level].get();
    end = base + chunk_size;
}

// Moves down from the emptied top chunk to the full one below. The emptied chunk
// is kept, so that a stack going up and down across a chunk's edge doesn't
// allocate each time; a chunk kept from before is given back.
void Json_stack::shrink()
{
    if (chunks.size() > level + 1)
        chunks.pop_back();
    --level;
    base = chunks[level].get();
    end = top = base + chunk_size;
}

Json_build::Json_build(const std::string_view& text) : parser(text)
{
    // Scalars and counts are held in 32 bits.
    if (text.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("kesp::Json_build text too long");
}

Json Json_build::build()
{
    for (;;) {
        switch (_next_event(parser)) {
        case 0:
            // A document needs a value: an empty text fails like a missing one.
            if (values.empty())
                parser.lexer.error(parser.tok(), "unexpected token");
            return values.pop();
        case 1:
            values.push(make_nul(parser.tok()));
            break;
        case 2:
            values.push(make_bol(parser.tok()));
            break;
        case 3:
            values.push(make_num(parser.tok()));
            break;
        case 4:
            values.push(make_str(parser.tok()));
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

// Moves the values from height m up off the stack into a new array, from the top
// down, so that the stack gives its chunks back as the array's block fills.
Json Json_build::make_arr(std::size_t m)
{
    auto n = values.size() - m;
    Json arr;
    arr.data = _allocate<Json>(n);
    arr.size = static_cast<std::uint32_t>(n);
    arr.type = Json::Type::arr;
    auto block = static_cast<Json*>(arr.data);
    for (std::size_t i = n; i-- != 0;)
        new (block + i) Json(values.pop());
    return arr;
}

// Pairs up the alternating keys and values from height m up straight into the
// object's own block, from the top down like an array's, and sorts them there,
// so each object costs one allocation.
Json Json_build::make_obj(std::size_t m)
{
    auto n = (values.size() - m) / 2;
    Json obj;
    obj.data = _allocate<Member>(n);
    obj.size = static_cast<std::uint32_t>(n);
    obj.type = Json::Type::obj;
    auto members = static_cast<Member*>(obj.data);
    for (std::size_t i = n; i-- != 0;) {
        Json value = values.pop();
        Json key = values.pop();
        new (members + i) Member(std::move(key), std::move(value));
    }
    std::sort(members, members + n, [](const Member& a, const Member& b) { return _key(a) < _key(b); });
    return obj;
}

void Json_build::build_array()
{
    values.push(make_arr(static_cast<std::size_t>(marks.back())));
    marks.pop_back();
}

void Json_build::build_object()
{
    values.push(make_obj(static_cast<std::size_t>(marks.back())));
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

namespace {

// The code point of the \u escape whose hex digits are at p, and p moved past
// them. A high surrogate directly followed by the escape of a low one is read
// with it, as the one character the pair stands for; any other surrogate stands
// for itself.
int _escaped_codepoint(const char*& p, const char* end)
{
    int cp = parse_codepoint(p);
    if (cp < 0xD800 || cp > 0xDBFF || end - p < 6 || p[0] != '\\' || p[1] != 'u')
        return cp;
    const char* q = p + 2;
    int low = parse_codepoint(q);
    if (low < 0xDC00 || low > 0xDFFF)
        return cp;
    p = q;
    return 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
}

}  // namespace

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
            push_utf8(out, _escaped_codepoint(p, end));
            break;
        default: std::abort();
        }
    }
    return out;
}

}  // namespace kesp
