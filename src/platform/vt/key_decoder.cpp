#include "platform/vt/key_decoder.h"

#include <array>
#include <string_view>

namespace {

constexpr unsigned char kEsc = 0x1b;
constexpr unsigned char kBel = 0x07;
constexpr int kEnterCode = 13;
constexpr int kBackspaceCode = 8;
constexpr int kUnknownCharacterCode = '?';

// Longer sequences are still read to their end, but only this much of them is kept.
constexpr std::size_t kLongestKeptSequence = 32;

struct ExtendedKey {
  int prefix;
  int scan_code;
  // What terminals send after ESC for this key; unused places stay empty.
  std::array<std::string_view, 4> forms;
};

// Every extended key the game knows, with the forms terminals send for it side by side: the
// ESC [ and ESC O forms of xterm and its kin, the ~ forms of VT220, rxvt and screen, and the
// ESC [ [ forms of the Linux console. Modifiers are ignored: ESC [ 1;5A (Ctrl+Up) is Up and
// ESC [ 5;2~ is Page Up, because NormalForm strips them before the lookup.
constexpr ExtendedKey kExtendedKeys[] = {
    {224, 72, {"[A", "OA"}},                // Up
    {224, 80, {"[B", "OB"}},                // Down
    {224, 77, {"[C", "OC"}},                // Right
    {224, 75, {"[D", "OD"}},                // Left
    {224, 71, {"[H", "OH", "[1~", "[7~"}},  // Home
    {224, 79, {"[F", "OF", "[4~", "[8~"}},  // End
    {224, 73, {"[5~"}},                     // Page Up
    {224, 81, {"[6~"}},                     // Page Down
    {224, 82, {"[2~"}},                     // Insert
    {224, 83, {"[3~"}},                     // Delete
    {0, 59, {"OP", "[P", "[11~", "[[A"}},   // F1 (ESC [ P only arrives with a modifier)
    {0, 60, {"OQ", "[Q", "[12~", "[[B"}},   // F2
    {0, 61, {"OR", "[R", "[13~", "[[C"}},   // F3
    {0, 62, {"OS", "[S", "[14~", "[[D"}},   // F4
    {0, 63, {"[15~", "[[E"}},               // F5
    {0, 64, {"[17~"}},                      // F6
    {0, 65, {"[18~"}},                      // F7
    {0, 66, {"[19~"}},                      // F8
    {0, 67, {"[20~"}},                      // F9
    {0, 68, {"[21~"}},                      // F10
    {224, 133, {"[23~"}},                   // F11
    {224, 134, {"[24~"}},                   // F12
};

bool IsDigitsAndSemicolons(std::string_view text) {
  return text.find_first_not_of("0123456789;") == std::string_view::npos;
}

// `sequence` without its modifier parameter, as kExtendedKeys lists it; empty when it cannot be a
// key at all (private markers, intermediates, or a first number that no key uses with a letter,
// as in the cursor position report ESC [ 12;40R).
std::string NormalForm(std::string_view sequence) {
  const char introducer = sequence.front();
  const char final_byte = sequence.back();
  const std::string_view parameters = sequence.substr(1, sequence.size() - 2);
  if (!IsDigitsAndSemicolons(parameters)) return {};
  const std::string_view first = parameters.substr(0, parameters.find(';'));
  std::string form(1, introducer);
  if (final_byte == '~') {
    form += first;
  } else if (introducer == '[' && !(first.empty() || first == "1")) {
    return {};
  }
  form += final_byte;
  return form;
}

const ExtendedKey* FindExtendedKey(std::string_view form) {
  if (form.empty()) return nullptr;
  for (const ExtendedKey& key : kExtendedKeys) {
    for (std::string_view known : key.forms) {
      if (known == form) return &key;
    }
  }
  return nullptr;
}

// How many continuation bytes follow a UTF-8 lead byte; 0 for a byte that cannot lead.
int ContinuationBytes(unsigned char lead) {
  if (lead >= 0xc2 && lead <= 0xdf) return 1;
  if (lead >= 0xe0 && lead <= 0xef) return 2;
  if (lead >= 0xf0 && lead <= 0xf4) return 3;
  return 0;
}

bool IsContinuation(unsigned char byte) {
  return byte >= 0x80 && byte <= 0xbf;
}

}  // namespace

void KeyDecoder::Feed(unsigned char byte, TickCount now) {
  // A byte that came after the timeout ends what was unfinished before it is taken, even when
  // one read brought both.
  Tick(now);
  chorded_ = static_cast<TickCount>(now - last_byte_at_) < kAltChordWindow;
  last_byte_at_ = now;
  while (!Step(byte)) {
  }
}

void KeyDecoder::Tick(TickCount now) {
  if (state_ == State::Ground) return;
  if (static_cast<TickCount>(now - last_byte_at_) < kSequenceTimeout) return;
  if (state_ == State::Escape) EndLoneEsc();
  state_ = State::Ground;
}

void KeyDecoder::EndLoneEsc() {
  if (!alt_held_) Emit(kEscKey);
  alt_held_ = false;
}

std::optional<std::chrono::milliseconds> KeyDecoder::TimeUntilTimeout(TickCount now) const {
  if (state_ == State::Ground) return std::nullopt;
  const TickCount waited = now - last_byte_at_;
  return std::chrono::milliseconds(waited >= kSequenceTimeout ? 0 : kSequenceTimeout - waited);
}

int KeyDecoder::PopKey() {
  if (keys_.empty()) return -1;
  const int code = keys_.front();
  keys_.pop_front();
  return code;
}

bool KeyDecoder::Step(unsigned char byte) {
  switch (state_) {
    case State::Ground:
      TakePlain(byte);
      return true;
    case State::Escape:
      return TakeAfterEscape(byte);
    case State::ControlSequence:
    case State::SingleShift:
    case State::LinuxFunctionKey:
      return TakeInSequence(byte);
    case State::MouseReport:
      if (--bytes_left_ == 0) state_ = State::Ground;
      return true;
    case State::String:
      if (byte == kBel) state_ = State::Ground;
      if (byte == kEsc) state_ = State::StringEscape;
      return true;
    case State::StringEscape:
      if (byte == '\\') {
        state_ = State::Ground;
        return true;
      }
      state_ = State::Escape;  // the ESC ended the string and begins a sequence of its own
      return false;
    case State::Utf8:
      if (!IsContinuation(byte)) {
        state_ = State::Ground;
        return false;
      }
      if (--bytes_left_ == 0) state_ = State::Ground;
      return true;
  }
  return true;
}

void KeyDecoder::TakePlain(unsigned char byte) {
  switch (byte) {
    case kEsc:
      state_ = State::Escape;
      return;
    case '\r':
    case '\n':
      Emit(kEnterCode);
      return;
    case 0x7f:
    case 0x08:
      Emit(kBackspaceCode);
      return;
    case 0x00:
      // Ctrl+Space: a bare 0 would make the game read the next key as a function key.
      return;
    default:
      if (byte < 0x80) {
        Emit(byte);
      } else {
        StartCharacter(byte);
      }
  }
}

bool KeyDecoder::TakeAfterEscape(unsigned char byte) {
  if (byte == kEsc) {
    if (chorded_) {
      alt_held_ = true;  // Alt and Esc, or Alt and a key whose sequence this ESC begins
    } else {
      EndLoneEsc();  // the first ESC stood alone; the second may begin a sequence
    }
    return true;
  }
  const bool alt_held = alt_held_;
  alt_held_ = false;
  switch (byte) {
    case '[':
      state_ = State::ControlSequence;
      sequence_.assign(1, '[');  // not `= "["`, which trips a false -Wrestrict of GCC 12 at -O3
      return true;
    case 'O':
      state_ = State::SingleShift;
      sequence_.assign(1, 'O');
      return true;
    case ']':
    case 'P':
    case 'X':
    case '^':
    case '_':
      state_ = State::String;
      return true;
    default:
      break;
  }
  if (chorded_) {
    SwallowChordKey(byte);  // Alt and this key: one press that gives no code
    return true;
  }
  // No sequence begins so: the Esc key (or Alt and Esc, which gives nothing), and the byte is a
  // key of its own.
  if (!alt_held) Emit(kEscKey);
  state_ = State::Ground;
  return false;
}

void KeyDecoder::SwallowChordKey(unsigned char byte) {
  bytes_left_ = ContinuationBytes(byte);
  state_ = bytes_left_ > 0 ? State::Utf8 : State::Ground;
}

bool KeyDecoder::TakeInSequence(unsigned char byte) {
  const bool just_begun = state_ == State::ControlSequence && sequence_ == "[";
  if (just_begun && byte == '[') {
    state_ = State::LinuxFunctionKey;
    sequence_ += '[';
    return true;
  }
  if (just_begun && byte == 'M') {
    state_ = State::MouseReport;
    bytes_left_ = 3;
    return true;
  }
  const bool parameter = byte >= 0x20 && byte <= 0x3f;
  const bool final_byte = byte >= 0x40 && byte <= 0x7e;
  if (parameter && state_ != State::LinuxFunctionKey) {
    if (sequence_.size() < kLongestKeptSequence) sequence_ += static_cast<char>(byte);
    return true;
  }
  const bool linux_form = state_ == State::LinuxFunctionKey;
  state_ = State::Ground;
  if (!final_byte) return false;  // a broken sequence: the byte is a key of its own
  sequence_ += static_cast<char>(byte);
  FinishSequence(linux_form);
  return true;
}

void KeyDecoder::StartCharacter(unsigned char lead) {
  Emit(kUnknownCharacterCode);
  bytes_left_ = ContinuationBytes(lead);
  state_ = bytes_left_ > 0 ? State::Utf8 : State::Ground;
}

void KeyDecoder::FinishSequence(bool linux_form) {
  // The Linux console's ESC [ [ A has no parameters to strip and is listed as it comes.
  const ExtendedKey* key = FindExtendedKey(linux_form ? sequence_ : NormalForm(sequence_));
  if (key == nullptr) return;
  Emit(key->prefix);
  Emit(key->scan_code);
}
