// The clients as the protocol dispatcher's peers, and the facade every client message goes through.
#include "websocket/cwebsocketinterface.h"

#include "protocol/core.h"
#include "protocol/peer.h"
#include "websocket/meteringpace.h"
#include "websocket/session.h"

using korvel::protocol::Outcome;

// The dispatcher's view of one client: its session, looked up at each call since a send may drop a slow
// client in the middle of a request. A connection without a session (never accepted, already released, or
// none at all) subscribes to nothing and has no meters of its own.
class CWebSocketInterface::ClientPeer final : public korvel::protocol::Peer {
public:
    ClientPeer(CWebSocketInterface &server, QWebSocket *client)
        : server(server)
        , client(client)
    {}
    QStringList *subscriptions() override
    {
        korvel::websocket::Session *session = server.session_of(client);
        return session ? &session->subscriptions : nullptr;
    }
    bool set_metering_interval(int ms) override { return server.metering_pace->set_interval(client, ms); }
    std::optional<int> metering_interval() override { return server.metering_pace->interval(client); }

private:
    CWebSocketInterface &server;
    QWebSocket *client;
};

Outcome CWebSocketInterface::dispatch(QWebSocket *client, const QString &message)
{
    ClientPeer peer(*this, client);
    return core.dispatcher().carry_out(message, peer);
}

int CWebSocketInterface::parseJSON(QWebSocket *client, const QString &message, QString &error)
{
    const Outcome outcome = dispatch(client, message);
    if (outcome.result < 0)
        error = outcome.error;
    // To the client that asked, and to nobody else: a null target would reach every client.
    else if (outcome.reply && client)
        sendJSON(*outcome.reply, QString(), client);
    return outcome.result;
}
