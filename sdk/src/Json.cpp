#include "Json.h"

#include <cstdlib>

namespace vcc {

const Json* Json::get(const std::string& key) const
{
    for (const auto& m : members)
        if (m.first == key)
            return &m.second;
    return nullptr;
}

namespace {

class Parser {
public:
    explicit Parser(const std::string& s) : s_(s) {}

    bool document(Json& out, std::string* error)
    {
        bool ok = value(out, 0);
        skip();
        if (ok && pos_ != s_.size())
            ok = fail("trailing characters");
        if (!ok && error)
            *error = "line " + std::to_string(line()) + ": " + why_;
        return ok;
    }

private:
    bool fail(const char* why)
    {
        if (why_.empty())
            why_ = why;
        return false;
    }

    int line() const
    {
        int n = 1;
        for (size_t i = 0; i < pos_ && i < s_.size(); ++i)
            n += s_[i] == '\n';
        return n;
    }

    void skip()
    {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }

    bool literal(const char* word)
    {
        size_t n = std::char_traits<char>::length(word);
        if (s_.compare(pos_, n, word) != 0)
            return fail("unexpected token");
        pos_ += n;
        return true;
    }

    bool string(std::string& out)
    {
        ++pos_; // opening quote
        while (pos_ < s_.size()) {
            char c = s_[pos_++];
            if (c == '"')
                return true;
            if (c == '\\') {
                if (pos_ >= s_.size())
                    break;
                char e = s_[pos_++];
                switch (e) {
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'r': out += '\r'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u': {
                    if (pos_ + 4 > s_.size())
                        return fail("bad escape");
                    unsigned long cp = std::strtoul(s_.substr(pos_, 4).c_str(), nullptr, 16);
                    pos_ += 4;
                    out += cp < 0x80 ? static_cast<char>(cp) : '?'; // names are ASCII
                    break;
                }
                default: out += e; break;
                }
            } else {
                out += c;
            }
        }
        return fail("unterminated string");
    }

    bool value(Json& out, int depth)
    {
        if (depth > 32)
            return fail("nested too deeply");
        skip();
        if (pos_ >= s_.size())
            return fail("unexpected end");
        char c = s_[pos_];
        if (c == '{') {
            out.type = Json::Type::Object;
            ++pos_;
            skip();
            if (pos_ < s_.size() && s_[pos_] == '}')
                return ++pos_, true;
            for (;;) {
                skip();
                if (pos_ >= s_.size() || s_[pos_] != '"')
                    return fail("expected a key");
                std::string key;
                if (!string(key))
                    return false;
                skip();
                if (pos_ >= s_.size() || s_[pos_] != ':')
                    return fail("expected ':'");
                ++pos_;
                Json v;
                if (!value(v, depth + 1))
                    return false;
                out.members.emplace_back(key, std::move(v));
                skip();
                if (pos_ < s_.size() && s_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < s_.size() && s_[pos_] == '}')
                    return ++pos_, true;
                return fail("expected ',' or '}'");
            }
        }
        if (c == '[') {
            out.type = Json::Type::Array;
            ++pos_;
            skip();
            if (pos_ < s_.size() && s_[pos_] == ']')
                return ++pos_, true;
            for (;;) {
                Json v;
                if (!value(v, depth + 1))
                    return false;
                out.items.push_back(std::move(v));
                skip();
                if (pos_ < s_.size() && s_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < s_.size() && s_[pos_] == ']')
                    return ++pos_, true;
                return fail("expected ',' or ']'");
            }
        }
        if (c == '"') {
            out.type = Json::Type::String;
            return string(out.text);
        }
        if (c == 't' || c == 'f') {
            out.type = Json::Type::Bool;
            out.boolean = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            out.type = Json::Type::Null;
            return literal("null");
        }
        const char* begin = s_.c_str() + pos_;
        char* end = nullptr;
        out.number = std::strtod(begin, &end);
        if (end == begin)
            return fail("unexpected character");
        out.type = Json::Type::Number;
        out.text.assign(begin, static_cast<size_t>(end - begin));
        pos_ += static_cast<size_t>(end - begin);
        return true;
    }

    const std::string& s_;
    size_t pos_ = 0;
    std::string why_;
};

} // namespace

bool parseJson(const std::string& in, Json& out, std::string* error)
{
    out = Json();
    return Parser(in).document(out, error);
}

} // namespace vcc
