// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PortTexts.h"

namespace platform::ports {

std::string Explain(const PortAccess& a, Language language)
{
    const bool en = language == Language::English;
    const std::string& dev = a.device;
    switch (a.state) {
    case Access::Free:
        return {};
    case Access::Denied:
        if (a.group.empty())
            return en ? "No permission to use " + dev + ": ask the administrator for access to it."
                      : dev + " を使う権限がありません。管理者に使用の許可を求めてください";
        return en ? "No permission to use " + dev + ": add the user to the group " + a.group +
                        " and log in again."
                  : dev + " を使う権限がありません。ユーザーを " + a.group +
                        " グループに追加して、ログインし直してください";
    case Access::Held: {
        std::string who;
        if (a.pid > 0)
            who = (a.program.empty() ? std::string(en ? "process" : "プロセス") : a.program) +
                  " (PID " + std::to_string(a.pid) + ")";
        if (dev.find(':') != std::string::npos && dev.front() != '/')  // a network port: HOST:PORT
            return en ? dev + " is in use by another client of its server: close that one and open the port again."
                      : dev + " は、サーバーの別のクライアントが使用中です。そのクライアントを終了してから、もう一度オープンしてください";
        if (en)
            return dev + " is in use by " + (who.empty() ? "another program" : who) +
                   ": close it and open the port again.";
        return dev + " は" + (who.empty() ? "別のプログラム" : " " + who + " ") +
               "が使用中です。そのプログラムを終了してから、もう一度オープンしてください";
    }
    case Access::Gone:
        return en ? dev + " is no longer there: plug the adapter in again or choose another port."
                  : dev + " はもう存在しません。アダプターを接続し直すか、別のポートを選んでください";
    case Access::Refused:
        return en ? dev + " refused the connection: check that its RFC 2217 server (ser2net) runs and shares the port."
                  : dev + " が接続を拒否しました。RFC 2217 サーバー (ser2net) が動いていて、ポートを共有しているか確認してください";
    case Access::Unreachable:
        return en ? dev + " cannot be reached: check the network and the address."
                  : dev + " に接続できません。ネットワークとアドレスを確認してください";
    case Access::Unresolved:
        return en ? "The host of " + dev + " is not known: check the name."
                  : dev + " のホスト名が見つかりません。名前を確認してください";
    case Access::Dropped:
        return en ? "The connection to " + dev + " was lost: check the server and the network, then open the port again."
                  : dev + " との接続が切れました。サーバーとネットワークを確認してから、もう一度オープンしてください";
    case Access::NotRfc2217:
        return en ? dev + " does not answer as an RFC 2217 server: check that ser2net shares the port with telnet(rfc2217), not raw."
                  : dev + " は RFC 2217 サーバーとして応答しません。ser2net がポートを raw ではなく telnet(rfc2217) で共有しているか確認してください";
    case Access::LookupFailed:
        return en ? "The name server did not answer for the host of " + dev + ": check the network, then open the port again."
                  : dev + " のホスト名を調べる間に、ネームサーバーが応答しませんでした。ネットワークを確認してから、もう一度オープンしてください";
    }
    return {};
}

}  // namespace platform::ports
