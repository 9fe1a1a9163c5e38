# Sourced by the bench scripts: serves DIR/www with nginx on free ports of
# 127.0.0.1. Sets PORT and NGINX_PID; the caller kills NGINX_PID when done.
#   start_nginx DIR           plain http on PORT
#   start_nginx DIR https     also https on TLS_PORT, with a test authority made
#                             for this run only: CA_FILE names its certificate
#                             (wget --ca-certificate, curl --cacert, and KIRO
#                             through CURL_CA_BUNDLE, as curl reads it).
start_nginx() {
    local dir=$1 tls=${2:-}
    mkdir -p "$dir/logs" "$dir/tmp"
    # nginx's worker drops to an unprivileged user when started as root.
    chmod a+rx "$dir"
    chmod -R a+rX "$dir/www"
    free_port() {
        python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
    }
    PORT=$(free_port)
    local tls_conf=
    if [ "$tls" = https ]; then
        TLS_PORT=$(free_port)
        while [ "$TLS_PORT" = "$PORT" ]; do TLS_PORT=$(free_port); done
        make_test_authority "$dir/tls" || return 1
        CA_FILE=$dir/tls/ca.pem
        tls_conf="listen 127.0.0.1:$TLS_PORT ssl http2;
        ssl_certificate $dir/tls/server.pem;
        ssl_certificate_key $dir/tls/server.key;
        ssl_protocols TLSv1.2 TLSv1.3;
        ssl_session_cache shared:SSL:1m;"
    fi
    cat > "$dir/nginx.conf" <<CONF
worker_processes 1;
error_log $dir/logs/error.log;
pid $dir/logs/nginx.pid;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 100000;
    types { text/html html htm; }
    default_type application/octet-stream;
    client_body_temp_path $dir/tmp/body;
    proxy_temp_path $dir/tmp/proxy;
    fastcgi_temp_path $dir/tmp/fastcgi;
    uwsgi_temp_path $dir/tmp/uwsgi;
    scgi_temp_path $dir/tmp/scgi;
    server {
        listen 127.0.0.1:$PORT;
        $tls_conf
        root $dir/www;
    }
}
CONF
    nginx -p "$dir/" -c "$dir/nginx.conf" -g 'daemon off;' &
    NGINX_PID=$!
    for _ in $(seq 50); do
        if curl -s -o /dev/null "http://127.0.0.1:$PORT/" \
            && { [ -z "$tls_conf" ] || curl -s -o /dev/null --cacert "$CA_FILE" "https://127.0.0.1:$TLS_PORT/"; }; then
            return 0
        fi
        sleep 0.1
    done
    echo "nginx did not start" >&2
    return 1
}

# A certificate authority and a server certificate for 127.0.0.1 signed by it,
# in DIR: ca.pem, server.pem, server.key. Nothing is added to the system's store.
make_test_authority() {
    local dir=$1
    mkdir -p "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=KIRO bench authority" \
        -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null || return 1
    openssl req -new -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
        -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null || return 1
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
        > "$dir/server.ext"
    openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial \
        -days 2 -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null || return 1
    chmod a+r "$dir"/*.pem "$dir"/*.key
}
