#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

namespace quenta::flash {

struct HttpRequest;

// Whom the view answers: requests for this server by one of its names, with the token when
// there is one.
struct RequestRules {
    QHostAddress address; // listened on
    quint16 port = 0;     // listened on
    QStringList hosts;    // further names, lower-case
    QByteArray token;     // empty: none asked for
};

// What a request is refused with.
struct Refusal {
    int status = 400;
    QString reason; // for people
};

// The limits of a request the view reads at all.
inline constexpr int kMaxPathBytes = 256;
inline constexpr int kMaxQueryBytes = 1024;
inline constexpr int kMaxHeaders = 48;
inline constexpr int kMaxHeaderBytes = 4096;   // one header's name and value
inline constexpr int kMaxHeadersBytes = 16384; // all of them

// Refuses a request that is not GET or HEAD (405), announces a body (400), is larger than the
// limits (414 for its path and query, 431 for its headers) or names in its Host header a host other
// than this server (421): a page of another site that made a browser send it, by a name that now
// leads here, is turned away. Nothing when it may be answered.
std::optional<Refusal> refusalOf(const HttpRequest &request, const RequestRules &rules);

// Whether the request carries the token, as "Authorization: Bearer TOKEN" or as the cookie the
// page's login form sets; true when no token is asked for. The comparison takes the same time
// whatever the texts.
bool carriesToken(const HttpRequest &request, const RequestRules &rules);

// The cookie the login form sets.
inline constexpr char kTokenCookie[] = "quenta_token";

} // namespace quenta::flash
