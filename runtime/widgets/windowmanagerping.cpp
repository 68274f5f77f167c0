#include "windowmanagerping.h"

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace {

// The longest WM_PROTOCOLS list read, in atoms; Qt sets four.
constexpr uint32_t kProtocolsRead = 64;

xcb_connection_t *x11Connection()
{
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atomNamed(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply
        = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

std::vector<quint32> protocolsOf(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t wmProtocols)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, wmProtocols, XCB_ATOM_ATOM, 0, kProtocolsRead), nullptr);
    std::vector<quint32> protocols;
    if (reply && reply->format == 32) {
        const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
        protocols.assign(atoms, atoms + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return protocols;
}

void setProtocols(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t wmProtocols,
                  const std::vector<quint32> &protocols)
{
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, wmProtocols, XCB_ATOM_ATOM, 32,
                        uint32_t(protocols.size()), protocols.data());
}

} // namespace

TWindowManagerPingPause::TWindowManagerPingPause()
{
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return;
    const xcb_atom_t wmProtocols = atomNamed(connection, "WM_PROTOCOLS");
    // Both make the window manager wait on the program: a ping for an answer, a
    // resize for the program's redrawing.
    const xcb_atom_t ping = atomNamed(connection, "_NET_WM_PING");
    const xcb_atom_t syncRequest = atomNamed(connection, "_NET_WM_SYNC_REQUEST");
    for (QWidget *window : QApplication::topLevelWidgets()) {
        const quintptr id = window->internalWinId();
        if (!id || !window->isVisible())
            continue;
        std::vector<quint32> protocols = protocolsOf(connection, xcb_window_t(id), wmProtocols);
        std::vector<quint32> withoutPing = protocols;
        std::erase_if(withoutPing, [&](quint32 protocol) { return protocol == ping || protocol == syncRequest; });
        if (withoutPing.size() == protocols.size())
            continue;
        setProtocols(connection, xcb_window_t(id), wmProtocols, withoutPing);
        m_paused.push_back({ window, id, std::move(protocols) });
    }
    xcb_flush(connection);
}

TWindowManagerPingPause::~TWindowManagerPingPause()
{
    xcb_connection_t *connection = m_paused.empty() ? nullptr : x11Connection();
    if (!connection)
        return;
    const xcb_atom_t wmProtocols = atomNamed(connection, "WM_PROTOCOLS");
    for (const Paused &paused : m_paused) {
        // A window destroyed meanwhile has taken its protocols with it.
        if (paused.window && paused.window->internalWinId() == paused.id)
            setProtocols(connection, xcb_window_t(paused.id), wmProtocols, paused.protocols);
    }
    xcb_flush(connection);
}
