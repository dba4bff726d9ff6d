// The accounts-file reader: JSON events from nlohmann's SAX parser, checked
// against the three records as they arrive, so that every problem can be
// reported with the line and column where it is.
#include <array>
#include <cstddef>
#include <iterator>
#include <nlohmann/json.hpp>

#include "nimbra/resolve.hpp"

namespace resolve {
namespace {

// A character pointer that tells how far the parser has read.
class CountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator(const char* at, const char* base, std::size_t* reached)
      : at_(at), base_(base), reached_(reached) {}
  reference operator*() const { return *at_; }
  CountingIterator& operator++() {
    ++at_;
    *reached_ = static_cast<std::size_t>(at_ - base_);
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const CountingIterator& other) const { return at_ == other.at_; }

 private:
  const char* at_;
  const char* base_;
  std::size_t* reached_;
};

// What the next value must be.
enum class Slot {
  Ignore,
  Text,
  OptText,
  Accounts,
  Keys,
  Secrets,
  ConfigRec,
  AccountRec,
  BindingRec
};

struct Member {
  std::string_view name;
  Slot slot;
};

constexpr std::array<Member, 2> CONFIG_MEMBERS = {
    {{"accounts", Slot::Accounts}, {"default", Slot::OptText}}};
constexpr std::array<Member, 2> ACCOUNT_MEMBERS = {{{"name", Slot::Text}, {"keys", Slot::Keys}}};
constexpr std::array<Member, 3> BINDING_MEMBERS = {
    {{"host", Slot::Text}, {"env", Slot::OptText}, {"secrets", Slot::Secrets}}};

struct Shape {
  std::string_view type;  // as in "struct Account"
  std::span<const Member> members;
  bool first_required;
};

constexpr Shape CONFIG_SHAPE{"AccountsConfig", CONFIG_MEMBERS, false};
constexpr Shape ACCOUNT_SHAPE{"Account", ACCOUNT_MEMBERS, true};
constexpr Shape BINDING_SHAPE{"KeyBinding", BINDING_MEMBERS, true};

constexpr std::size_t NONE = static_cast<std::size_t>(-1);

// One open record or list. Exactly one of the pointers is set.
struct Frame {
  const Shape* shape = nullptr;  // a record; null for a list
  bool array_form = false;
  std::size_t count = 0;       // elements so far (array form)
  unsigned seen = 0;           // members given (object form), one bit each
  std::size_t pending = NONE;  // object form: the member whose value comes next
  AccountsConfig* config = nullptr;
  Account* account = nullptr;
  KeyBinding* binding = nullptr;
  std::vector<Account>* accounts = nullptr;
  std::vector<KeyBinding>* keys = nullptr;
  std::vector<std::string>* secrets = nullptr;
};

std::string expected_text(Slot slot) {
  switch (slot) {
    case Slot::Text:
    case Slot::OptText:
      return "a string";
    case Slot::Accounts:
    case Slot::Keys:
    case Slot::Secrets:
      return "a sequence";
    case Slot::ConfigRec:
      return "struct AccountsConfig";
    case Slot::AccountRec:
      return "struct Account";
    case Slot::BindingRec:
      return "struct KeyBinding";
    case Slot::Ignore:
      break;
  }
  return "any value";
}

class Reader {
 public:
  Reader(std::string_view text, const std::size_t* reached) : text_(text), reached_(reached) {}

  // --- nlohmann's SAX interface ---
  bool null() { return scalar(std::nullopt, "null", true, *reached_); }
  bool boolean(bool value) {
    return scalar(std::nullopt, value ? "boolean `true`" : "boolean `false`", false, *reached_);
  }
  bool number_integer(std::int64_t value) {
    return number("integer `" + std::to_string(value) + "`");
  }
  bool number_unsigned(std::uint64_t value) {
    return number("integer `" + std::to_string(value) + "`");
  }
  bool number_float(double, const std::string& raw) {
    return number("floating point `" + raw + "`");
  }
  bool string(std::string& value) {
    // The text itself is never echoed: a string in the wrong place may be a
    // key pasted where a name belongs.
    return scalar(std::move(value), "string", false, *reached_);
  }
  bool binary(nlohmann::json::binary_t&) { return fail("unexpected binary value", *reached_); }
  bool start_object(std::size_t) { return open(false); }
  bool start_array(std::size_t) { return open(true); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool key(std::string& name);
  bool parse_error(std::size_t position, const std::string& last_token,
                   const nlohmann::detail::exception& error);

  [[nodiscard]] AccountsConfig& config() { return config_; }
  [[nodiscard]] const std::string& error() const { return error_; }

 private:
  struct Target {
    Slot slot;
    std::size_t member;
  };

  Target next_target();
  // A value that is not a container; `shown` describes it for messages and
  // `at` is the offset just past it.
  bool scalar(std::optional<std::string> value, const std::string& shown, bool is_null,
              std::size_t at);
  // The reader has looked one character past a number (the input always
  // ends with a blank, so there is one).
  bool number(const std::string& shown) {
    return scalar(std::nullopt, shown, false, *reached_ - 1);
  }
  bool open(bool array);
  bool close();
  void store(Frame& frame, std::size_t member, std::optional<std::string> value);
  Frame list_frame(Frame& parent, std::size_t member, Slot slot);
  Frame record_frame(Slot slot, bool array);
  bool fail(std::string description, std::size_t offset, bool syntax = false);
  std::string position(std::size_t offset, bool syntax) const;

  std::string_view text_;
  const std::size_t* reached_;
  AccountsConfig config_;
  std::vector<Frame> frames_;
  std::size_t skipping_ = 0;  // depth inside a value that is ignored
  std::string error_;
};

Reader::Target Reader::next_target() {
  if (frames_.empty()) return {Slot::ConfigRec, NONE};
  Frame& top = frames_.back();
  if (top.shape != nullptr) {
    if (!top.array_form)
      return {top.pending == NONE ? Slot::Ignore : top.shape->members[top.pending].slot,
              top.pending};
    const std::size_t member = top.count++;
    if (member >= top.shape->members.size()) return {Slot::Ignore, NONE};
    return {top.shape->members[member].slot, member};
  }
  if (top.accounts != nullptr) return {Slot::AccountRec, NONE};
  if (top.keys != nullptr) return {Slot::BindingRec, NONE};
  return {Slot::Text, NONE};  // an element of "secrets"
}

bool Reader::scalar(std::optional<std::string> value, const std::string& shown, bool is_null,
                    std::size_t at) {
  if (skipping_ > 0) return true;
  const Target target = next_target();
  if (target.slot == Slot::Ignore) return true;
  const bool fits =
      (target.slot == Slot::Text && value) || (target.slot == Slot::OptText && (value || is_null));
  if (!fits) return fail("invalid type: " + shown + ", expected " + expected_text(target.slot), at);
  Frame& top = frames_.back();
  if (top.secrets != nullptr)
    top.secrets->push_back(std::move(*value));
  else
    store(top, target.member, std::move(value));
  return true;
}

void Reader::store(Frame& frame, std::size_t member, std::optional<std::string> value) {
  if (frame.config != nullptr) {
    frame.config->default_ = std::move(value);
  } else if (frame.account != nullptr) {
    frame.account->name = std::move(*value);
  } else if (frame.binding != nullptr) {
    if (member == 0)
      frame.binding->host = std::move(*value);
    else
      frame.binding->env = std::move(value);
  }
}

bool Reader::open(bool array) {
  if (skipping_ > 0) {
    ++skipping_;
    return true;
  }
  const std::size_t at = *reached_;
  const Target target = next_target();
  switch (target.slot) {
    case Slot::Ignore:
      skipping_ = 1;
      return true;
    case Slot::Accounts:
    case Slot::Keys:
    case Slot::Secrets:
      if (!array) break;
      frames_.push_back(list_frame(frames_.back(), target.member, target.slot));
      return true;
    case Slot::ConfigRec:
    case Slot::AccountRec:
    case Slot::BindingRec:
      frames_.push_back(record_frame(target.slot, array));
      return true;
    case Slot::Text:
    case Slot::OptText:
      break;
  }
  return fail("invalid type: " + std::string(array ? "sequence" : "map") + ", expected " +
                  expected_text(target.slot),
              at);
}

Frame Reader::list_frame(Frame& parent, std::size_t, Slot slot) {
  Frame frame;
  if (slot == Slot::Accounts) frame.accounts = &parent.config->accounts;
  if (slot == Slot::Keys) frame.keys = &parent.account->keys;
  if (slot == Slot::Secrets) frame.secrets = &parent.binding->secrets;
  return frame;
}

Frame Reader::record_frame(Slot slot, bool array) {
  Frame frame;
  frame.array_form = array;
  if (slot == Slot::ConfigRec) {
    frame.shape = &CONFIG_SHAPE;
    frame.config = &config_;
  } else if (slot == Slot::AccountRec) {
    frame.shape = &ACCOUNT_SHAPE;
    frame.account = &frames_.back().accounts->emplace_back();
  } else {
    frame.shape = &BINDING_SHAPE;
    frame.binding = &frames_.back().keys->emplace_back();
  }
  return frame;
}

bool Reader::key(std::string& name) {
  if (skipping_ > 0) return true;
  Frame& top = frames_.back();  // keys come only inside a record in object form
  top.pending = NONE;
  for (std::size_t i = 0; i < top.shape->members.size(); ++i) {
    if (top.shape->members[i].name != name) continue;
    if ((top.seen & (1u << i)) != 0) return fail("duplicate field `" + name + "`", *reached_);
    top.seen |= 1u << i;
    top.pending = i;
  }
  return true;
}

bool Reader::close() {
  if (skipping_ > 0) {
    --skipping_;
    return true;
  }
  const Frame top = frames_.back();
  frames_.pop_back();
  if (top.shape == nullptr) return true;
  const Shape& shape = *top.shape;
  const std::string expected = "struct " + std::string(shape.type) + " with " +
                               std::to_string(shape.members.size()) + " elements";
  if (top.array_form) {
    if (top.count > shape.members.size() || (top.count == 0 && shape.first_required))
      return fail("invalid length " + std::to_string(top.count) + ", expected " + expected,
                  *reached_);
  } else if (shape.first_required && (top.seen & 1u) == 0) {
    return fail("missing field `" + std::string(shape.members[0].name) + "`", *reached_);
  }
  return true;
}

// Where the unexpected token begins, given the offset just past it. The
// lexer's token text is not reliable for this (it is not restarted for
// literals and punctuation), so the length comes from the token's kind.
std::size_t token_start(std::string_view description, std::size_t end,
                        const std::string& last_token) {
  constexpr std::string_view MARK = " - unexpected ";
  const auto at = description.find(MARK);
  if (at == std::string_view::npos) return end;
  std::string_view kind = description.substr(at + MARK.size());
  kind = kind.substr(0, kind.find(';'));
  std::size_t length = 1;  // punctuation
  if (kind == "true literal" || kind == "null literal") length = 4;
  if (kind == "false literal") length = 5;
  if (kind == "string literal" || kind == "number literal") length = last_token.size();
  if (kind == "end of input") length = 0;
  return end >= length ? end - length + std::min<std::size_t>(length, 1) : end;
}

// nlohmann's description without the text it last read (which may run far
// back into the file).
std::string without_last_read(std::string description) {
  constexpr std::string_view MARK = "; last read: '";
  const auto at = description.find(MARK);
  if (at == std::string::npos) return description;
  const auto expected = description.rfind("'; expected ");
  std::string tail;
  if (expected != std::string::npos && expected >= at + MARK.size())
    tail = description.substr(expected + 1);
  description.erase(at);
  return description + tail;
}

bool Reader::parse_error(std::size_t position, const std::string& last_token,
                         const nlohmann::detail::exception& error) {
  // nlohmann's text is "[json.exception.parse_error.101] parse error at
  // line L, column C: <description>" (or "[json.exception.out_of_range.406]
  // <description>"); the position is given here instead.
  std::string description = error.what();
  if (description.starts_with("[")) {
    if (const auto close = description.find("] "); close != std::string::npos)
      description.erase(0, close + 2);
  }
  if (description.starts_with("parse error")) {
    if (const auto colon = description.find(": "); colon != std::string::npos)
      description.erase(0, colon + 2);
  }
  const bool lexer_failed = description.find("; last read: '") != std::string::npos;
  // A lexer failure is shown at the character it stopped on; an unexpected
  // token where it begins.
  const std::size_t offset =
      lexer_failed ? position : token_start(description, position, last_token);
  return fail(without_last_read(std::move(description)), offset, true);
}

bool Reader::fail(std::string description, std::size_t offset, bool syntax) {
  if (error_.empty()) error_ = std::move(description) + " at " + position(offset, syntax);
  return false;
}

// "line L column C": L counts from 1, C is the number of characters read on
// that line; a syntax error on a line feed is shown on the line it ends.
std::string Reader::position(std::size_t offset, bool syntax) const {
  offset = std::min(offset, text_.size());
  std::size_t line = 1, column = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    const auto c = static_cast<unsigned char>(text_[i]);
    const bool ends_line = c == '\n' && !(syntax && i + 1 == offset);
    if (ends_line) {
      ++line;
      column = 0;
    } else if ((c & 0xC0) != 0x80) {
      ++column;
    }
  }
  return "line " + std::to_string(line) + " column " + std::to_string(column);
}

}  // namespace

std::expected<AccountsConfig, std::string> parse_accounts(std::string_view text) {
  // The trailing blank lets every number end on a character of its own.
  std::string input(text);
  input += ' ';
  std::size_t reached = 0;
  Reader reader(text, &reached);
  const CountingIterator first(input.data(), input.data(), &reached);
  const CountingIterator last(input.data() + input.size(), input.data(), &reached);
  bool ok = false;
  try {
    ok = nlohmann::json::sax_parse(first, last, &reader);
  } catch (const std::exception& e) {
    return std::unexpected(std::string(e.what()));
  }
  if (!ok) return std::unexpected(reader.error());
  return std::move(reader.config());
}

}  // namespace resolve
