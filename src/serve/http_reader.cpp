// Requests read with Beast's parser, which checks the syntax of every line as it comes, and
// checks of our own on what it lets through: it keeps no count of Host fields, takes equal
// Content-Length values given twice, reads a transfer coding it does not know as no body at
// all, and puts no bound on a head that arrives a line at a time.
#include "serve/http_reader.h"

// This version asserts that a last chunk is seen again with at least 5 bytes, where its own
// wait for the trailer can leave 4 ("0\r\n" and one more); release builds never check it,
// and the parser reads such input correctly.
#define BOOST_DISABLE_ASSERTS
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>
#include <cstring>
#include <limits>
#include <optional>

namespace norvisk::serve {
namespace {

namespace http = boost::beast::http;
using boost::beast::error_code;
using BeastView = boost::beast::string_view;

constexpr std::size_t kKeptBody = 64 * 1024;

std::string_view View(BeastView s) { return std::string_view(s.data(), s.size()); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool StartsNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// uri-host [":" port]: a registered name, an IPv4 address or a bracketed IP literal.
bool ValidHost(std::string_view host) {
  for (char c : host) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    for (char allowed : std::string_view("-._~!$&'()*+,;=%:[]")) ok = ok || c == allowed;
    if (!ok) return false;
  }
  return true;
}

// `text` into `*out`, keeping its memory. Not assign(): GCC 12 sees an overlap there, between
// the parser's buffer and the string, that cannot happen, and warns of it.
void CopyTo(std::string_view text, std::string* out, std::size_t at = 0) {
  out->resize(at + text.size());
  if (!text.empty()) std::memcpy(out->data() + at, text.data(), text.size());
}

// The origin form of a request target: an absolute form ("http://host/path?query") loses its
// scheme and authority; anything else stays as sent (and finds no route unless it is a path).
void OriginForm(std::string_view target, std::string* out) {
  std::string_view rest;
  if (StartsNoCase(target, "http://"))
    rest = target.substr(7);
  else if (StartsNoCase(target, "https://"))
    rest = target.substr(8);
  else
    return CopyTo(target, out);
  std::size_t path = rest.find_first_of("/?");
  if (path == std::string_view::npos) return CopyTo("/", out);
  std::size_t slash = rest[path] == '?' ? 1 : 0;
  if (slash) CopyTo("/", out);
  CopyTo(rest.substr(path), out, slash);
}

// The codings a client may name in Transfer-Encoding; only chunked is decoded here.
bool KnownCoding(std::string_view coding) {
  for (std::string_view known : {"chunked", "gzip", "x-gzip", "deflate", "compress", "x-compress"})
    if (EqualsNoCase(coding, known)) return true;
  return false;
}

}  // namespace

class RequestReader::Parser {
 public:
  explicit Parser(const Limits& limits) : limits_(limits) { Reset(); }

  void Reset();
  std::size_t Read(std::string_view bytes, Progress* progress);
  bool KeepAlive() const { return state_ == Progress::Done && beast_->keep_alive(); }

  Limits limits_;
  Progress state_ = Progress::NeedMore;
  bool started_ = false;
  bool headDone_ = false;
  bool requestLine_ = false;  // the request line has been read
  std::size_t headBytes_ = 0;
  std::string method_, target_, noneMatch_, transferEncoding_, body_;
  int version_ = 11;
  int hosts_ = 0, lengths_ = 0;
  bool hasNoneMatch_ = false, expect_ = false, takesBody_ = false;
  unsigned long long received_ = 0;
  int refusal_ = 0;  // a refusal of our own, made inside a parser call
  std::string refusalMessage_;
  Decision decision_;

 private:
  // Beast's parser with our callbacks; made anew for each request.
  class Beast : public http::basic_parser<true> {
   public:
    explicit Beast(Parser* owner) : owner_(owner) {}

   private:
    void on_request_impl(http::verb, BeastView method, BeastView target, int version,
                         error_code&) override {
      CopyTo(View(method), &owner_->method_);
      OriginForm(View(target), &owner_->target_);
      owner_->version_ = version;
      owner_->requestLine_ = true;
    }
    void on_response_impl(int, BeastView, int, error_code&) override {}
    void on_field_impl(http::field f, BeastView, BeastView value, error_code& ec) override {
      owner_->Field(f, View(value), ec);
    }
    void on_header_impl(error_code& ec) override { owner_->Header(ec); }
    void on_body_init_impl(const boost::optional<std::uint64_t>&, error_code&) override {}
    std::size_t on_body_impl(BeastView body, error_code& ec) override {
      return owner_->Body(View(body), ec);
    }
    void on_chunk_header_impl(std::uint64_t size, BeastView, error_code& ec) override {
      owner_->Chunk(size, ec);
    }
    std::size_t on_chunk_body_impl(std::uint64_t, BeastView body, error_code& ec) override {
      return owner_->Body(View(body), ec);
    }
    void on_finish_impl(error_code&) override {}

    Parser* owner_;
  };

  void Refuse(error_code& ec, int status, std::string message) {
    refusal_ = status;
    refusalMessage_ = std::move(message);
    ec = http::error::bad_value;
  }
  void Field(http::field f, std::string_view value, error_code& ec);
  void Header(error_code& ec);
  std::size_t Body(std::string_view body, error_code& ec);
  void Chunk(std::uint64_t size, error_code& ec);
  void TooLarge(error_code& ec) {
    Refuse(ec, 413, "too large: the body is over " + std::to_string(limits_.maxBody) + " bytes");
  }
  // The refusal for an error of the parser; `rest` is the input it stopped at.
  void RefuseFor(const error_code& ec, std::string_view rest);
  // The request as read, or the refusal, and what follows.
  void Finish(bool close);

  std::optional<Beast> beast_;
};

void RequestReader::Parser::Reset() {
  state_ = Progress::NeedMore;
  started_ = headDone_ = requestLine_ = false;
  headBytes_ = 0;
  method_.clear();
  target_.clear();
  noneMatch_.clear();
  transferEncoding_.clear();
  body_.clear();
  version_ = 11;
  hosts_ = lengths_ = 0;
  hasNoneMatch_ = expect_ = takesBody_ = false;
  received_ = 0;
  refusal_ = 0;
  refusalMessage_.clear();
  decision_.status = 200;
  decision_.message.clear();
  decision_.allow = nullptr;
  decision_.chart.route = Route::Unknown;
  beast_.reset();
  beast_.emplace(this);
  // Our own checks bound the head and the body; Beast's limits only need to stay out of the way.
  beast_->header_limit(static_cast<std::uint32_t>(limits_.maxHead + 1));
  // Not boost::none: this version compares a declared length against it as an optional, and
  // every length is more than none.
  beast_->body_limit(std::numeric_limits<std::uint64_t>::max());
}

void RequestReader::Parser::Field(http::field f, std::string_view value, error_code& ec) {
  if (headDone_) return;  // trailer fields of a chunked body carry nothing we use
  switch (f) {
    case http::field::host:
      if (++hosts_ > 1) return Refuse(ec, 400, "bad request: more than one Host header");
      if (!ValidHost(value)) return Refuse(ec, 400, "bad request: a malformed Host header");
      return;
    case http::field::content_length:
      // Beast has read it as one or more equal numbers; one plain number is all we take.
      if (++lengths_ > 1) return Refuse(ec, 400, "bad request: more than one Content-Length");
      if (!AllDigits(value)) return Refuse(ec, 400, "bad request: a malformed Content-Length");
      return;
    case http::field::transfer_encoding:
      if (!transferEncoding_.empty()) transferEncoding_ += ',';
      transferEncoding_.append(value);
      return;
    case http::field::if_none_match:
      if (hasNoneMatch_) noneMatch_ += ',';
      hasNoneMatch_ = true;
      noneMatch_.append(value);
      return;
    case http::field::expect: expect_ = EqualsNoCase(Trim(value), "100-continue"); return;
    default: return;
  }
}

void RequestReader::Parser::Header(error_code& ec) {
  headDone_ = true;
  if (version_ >= 11 && hosts_ == 0) return Refuse(ec, 400, "bad request: no Host header");
  if (!transferEncoding_.empty()) {
    if (lengths_ > 0)
      return Refuse(ec, 400, "bad request: both Content-Length and Transfer-Encoding");
    if (version_ < 11) return Refuse(ec, 400, "bad request: Transfer-Encoding in HTTP/1.0");
    std::string_view list = transferEncoding_;
    std::string_view unknown, other;
    int chunked = 0;
    bool chunkedLast = false, any = false;
    while (!list.empty()) {
      std::size_t comma = list.find(',');
      std::string_view item = Trim(list.substr(0, comma));
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
      std::string_view coding = Trim(item.substr(0, item.find(';')));
      if (coding.empty()) continue;
      any = true;
      chunkedLast = EqualsNoCase(coding, "chunked");
      if (chunkedLast)
        ++chunked;
      else if (!KnownCoding(coding) && unknown.empty())
        unknown = coding;
      else if (other.empty())
        other = coding;
    }
    if (!unknown.empty())
      return Refuse(ec, 501, "not implemented: the transfer coding " + Quote(unknown));
    if (!any || chunked != 1 || !chunkedLast)
      return Refuse(ec, 400, "bad request: a body must be chunked once, and last");
    if (!other.empty())
      return Refuse(ec, 501, "not implemented: the transfer coding " + Quote(other));
  }
}

std::size_t RequestReader::Parser::Body(std::string_view body, error_code& ec) {
  received_ += body.size();
  if (received_ > limits_.maxBody) {
    TooLarge(ec);
    return 0;
  }
  if (takesBody_) body_.append(body);
  return body.size();
}

void RequestReader::Parser::Chunk(std::uint64_t size, error_code& ec) {
  // Refused as soon as the running total would pass the limit, before the chunk is sent.
  if (size > limits_.maxBody || received_ + size > limits_.maxBody) TooLarge(ec);
}

void RequestReader::Parser::RefuseFor(const error_code& ec, std::string_view rest) {
  using E = http::error;
  decision_.allow = nullptr;
  if (refusal_) {
    decision_.status = refusal_;
    decision_.message = refusalMessage_;
    return;
  }
  int status = 400;
  std::string message = "bad request: a malformed request";
  if (ec == E::header_limit) {
    // Beast may wait for the whole head before it reads even the request line; until it has
    // read that line, `rest` begins with it.
    bool lineWhole = requestLine_ || rest.find('\n') < limits_.maxHead;
    status = lineWhole ? 431 : 414;
    message = lineWhole ? "header fields too large: the head is over " +
                              std::to_string(limits_.maxHead) + " bytes"
                        : "URI too long: the request line is over " +
                              std::to_string(limits_.maxHead) + " bytes";
  } else if (ec == E::bad_version) {
    // "HTTP/" digit "." digit that is neither 1.0 nor 1.1, else a malformed line.
    std::string_view line = rest.substr(0, rest.find_first_of("\r\n"));
    std::string_view version = line.substr(line.rfind(' ') + 1);
    bool wellFormed = version.size() == 8 && version.substr(0, 5) == "HTTP/" && version[5] >= '0' &&
                      version[5] <= '9' && version[6] == '.' && version[7] >= '0' &&
                      version[7] <= '9';
    bool supported = version == "HTTP/1.0" || version == "HTTP/1.1";
    if (wellFormed && !supported && line.find(' ') != line.rfind(' ')) {
      status = 505;
      message = "HTTP version not supported: only HTTP/1.0 and HTTP/1.1";
    } else {
      message = "bad request: a malformed request line";
    }
  } else if (ec == E::bad_content_length) {
    // Beast stops at the field: a first Content-Length of digits alone is one too large to read.
    std::string_view line = rest.substr(0, rest.find('\r'));
    std::size_t colon = line.find(':');
    if (!transferEncoding_.empty()) {
      message = "bad request: both Content-Length and Transfer-Encoding";
    } else if (lengths_ == 0 && colon != std::string_view::npos &&
               AllDigits(Trim(line.substr(colon + 1)))) {
      status = 413;
      message = "too large: the body is over " + std::to_string(limits_.maxBody) + " bytes";
    } else {
      message = lengths_ ? "bad request: more than one Content-Length"
                         : "bad request: a malformed Content-Length";
    }
  } else if (ec == E::bad_transfer_encoding) {
    message = lengths_ ? "bad request: both Content-Length and Transfer-Encoding"
                       : "bad request: a body must be chunked once, and last";
  } else if (ec == E::bad_method || ec == E::bad_target) {
    message = "bad request: a malformed request line";
  } else if (ec == E::bad_field || ec == E::bad_value || ec == E::bad_obs_fold) {
    message = "bad request: a malformed header field";
  } else if (ec == E::bad_line_ending) {
    message = "bad request: a line not ended by CRLF";
  } else if (ec == E::bad_chunk || ec == E::bad_chunk_extension) {
    message = "bad request: a malformed chunk";
  } else if (ec == E::body_limit) {
    status = 413;
    message = "too large: the body is over " + std::to_string(limits_.maxBody) + " bytes";
  }
  decision_.status = status;
  decision_.message = std::move(message);
}

void RequestReader::Parser::Finish(bool close) {
  state_ = close ? Progress::Refused : Progress::Done;
}

std::size_t RequestReader::Parser::Read(std::string_view bytes, Progress* progress) {
  if (state_ == Progress::Done || state_ == Progress::Refused) {
    *progress = state_;
    return 0;
  }
  if (!bytes.empty()) started_ = true;
  std::size_t used = 0;
  error_code ec;
  if (!beast_->is_header_done()) {
    used = beast_->put(boost::asio::const_buffer(bytes.data(), bytes.size()), ec);
    headBytes_ += used;
    if (ec == http::error::need_more) {
      // Beast bounds what it looks at in one call, not a head that comes a line at a time.
      if (headBytes_ + (bytes.size() - used) > limits_.maxHead)
        ec = http::error::header_limit;
      else
        return *progress = Progress::NeedMore, used;
    }
    // A head given whole may have passed the limit in parts that each were within it.
    if (!ec && headBytes_ > limits_.maxHead) ec = http::error::header_limit;
    if (ec) {
      if (decision_.chart.route == Route::Unknown && requestLine_)
        decision_.chart.route = FindRoute(std::string_view(target_).substr(0, target_.find('?')));
      RefuseFor(ec, bytes.substr(used));
      Finish(true);
      return *progress = state_, used;
    }
    // The head is whole: what it asks for is decided before any of its body is read.
    ReadRequest(method_, target_, limits_, &decision_);
    bool body = !beast_->is_done();
    if (decision_.status != 200) {
      // Refused with a body still to come: the connection closes rather than read it.
      Finish(body);
      return *progress = state_, used;
    }
    takesBody_ = TakesBody(method_, decision_.chart.route);
    if (body && beast_->content_length() && *beast_->content_length() > limits_.maxBody) {
      decision_.status = 413;
      decision_.message =
          "too large: the body is over " + std::to_string(limits_.maxBody) + " bytes";
      Finish(true);
      return *progress = state_, used;
    }
    if (body) {
      beast_->eager(true);
      *progress = Progress::Head;
      return used;
    }
  }
  while (!beast_->is_done() && used < bytes.size()) {
    used += beast_->put(boost::asio::const_buffer(bytes.data() + used, bytes.size() - used), ec);
    if (ec == http::error::need_more) break;
    if (ec) {
      RefuseFor(ec, bytes.substr(used));
      Finish(true);
      return *progress = state_, used;
    }
  }
  if (!beast_->is_done()) return *progress = Progress::NeedMore, used;
  if (takesBody_) {
    // The body becomes the data without a copy; a NUL in it is refused as in a query.
    if (body_.find('\0') != std::string::npos)
      ReadBody(body_, &decision_);
    else
      decision_.chart.data.swap(body_);
  }
  // A large body's memory is not kept for the connection's next request.
  if (body_.capacity() > kKeptBody) std::string().swap(body_);
  Finish(false);
  return *progress = state_, used;
}

RequestReader::RequestReader(const Limits& limits) : parser_(new Parser(limits)) {}
RequestReader::~RequestReader() = default;

void RequestReader::Next() { parser_->Reset(); }

std::size_t RequestReader::Read(std::string_view bytes, Progress* progress) {
  return parser_->Read(bytes, progress);
}

bool RequestReader::Started() const { return parser_->started_; }
const Decision& RequestReader::Result() const { return parser_->decision_; }
Decision& RequestReader::Result() { return parser_->decision_; }
std::string_view RequestReader::Method() const { return parser_->method_; }
bool RequestReader::HeadOnly() const { return parser_->method_ == "HEAD"; }
bool RequestReader::KeepAlive() const { return parser_->KeepAlive(); }
bool RequestReader::Http11() const { return parser_->version_ >= 11; }
bool RequestReader::ExpectsContinue() const { return parser_->expect_ && parser_->version_ >= 11; }
bool RequestReader::HasNoneMatch() const { return parser_->hasNoneMatch_; }
std::string_view RequestReader::NoneMatch() const { return parser_->noneMatch_; }

}  // namespace norvisk::serve
