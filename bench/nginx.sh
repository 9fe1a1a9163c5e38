# Sourced by the bench scripts: serves DIR/www with nginx on a free port of
# 127.0.0.1. Sets PORT and NGINX_PID; the caller kills NGINX_PID when done.
#   start_nginx DIR
start_nginx() {
    local dir=$1
    mkdir -p "$dir/logs" "$dir/tmp"
    # nginx's worker drops to an unprivileged user when started as root.
    chmod a+rx "$dir"
    chmod -R a+rX "$dir/www"
    PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
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
        root $dir/www;
    }
}
CONF
    nginx -p "$dir/" -c "$dir/nginx.conf" -g 'daemon off;' &
    NGINX_PID=$!
    for _ in $(seq 50); do
        curl -s -o /dev/null "http://127.0.0.1:$PORT/" && return 0
        sleep 0.1
    done
    echo "nginx did not start" >&2
    return 1
}
