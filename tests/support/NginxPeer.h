// nginx from Debian's package as a test peer: one worker in the foreground, serving `dir`/www on
// the loopback port given, with every file it writes kept inside `dir`.
#pragma once

#include "tests/support/PeerProcess.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

inline bool NginxInstalled() {
    return access("/usr/sbin/nginx", X_OK) == 0;
}

// `httpExtra` goes into the http block (e.g. "keepalive_timeout 0; sendfile off;").
inline bool StartNginx(PeerProcess& nginx, const std::filesystem::path& dir, int port,
                       const std::string& httpExtra = "", int connections = 64) {
    std::ofstream(dir / "nginx.conf")
        << "daemon off; master_process off; worker_processes 1;\n"
        << "pid " << (dir / "nginx.pid").string() << ";\n"
        << "error_log " << (dir / "error.log").string() << ";\n"
        << "events { worker_connections " << connections << "; }\n"
        << "http { access_log off; " << httpExtra << "\n"
        << " client_body_temp_path " << dir.string() << "; proxy_temp_path " << dir.string()
        << "; fastcgi_temp_path " << dir.string() << "; uwsgi_temp_path " << dir.string()
        << "; scgi_temp_path " << dir.string() << ";\n"
        << " server { listen 127.0.0.1:" << port << "; root " << (dir / "www").string() << "; } }\n";
    if (!nginx.Start({"/usr/sbin/nginx", "-c", (dir / "nginx.conf").string(), "-p", dir.string()}, false))
        return false;
    return PeerProcess::WaitListening(port);
}
