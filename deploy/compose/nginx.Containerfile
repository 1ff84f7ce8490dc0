# Debian's nginx for the compose file (compose.yaml), built by scripts/build-image.sh --nginx on
# a base of Debian's nginx package and what it depends on. It runs as an unprivileged user on
# port 8080 with the configuration mounted at /etc/nginx/nginx.conf (nginx.conf beside this
# file), and keeps its cache in /var/cache/nginx (a volume).
ARG BASE
FROM ${BASE}
COPY --chown=10001:10001 cache/ /var/cache/nginx/

ARG VERSION
ARG REVISION
ARG CREATED
ARG SOURCE
LABEL org.opencontainers.image.title="kestrel-nginx" \
      org.opencontainers.image.description="Debian's nginx, for the cache in front of kserve containers" \
      org.opencontainers.image.version="${VERSION}" \
      org.opencontainers.image.revision="${REVISION}" \
      org.opencontainers.image.created="${CREATED}" \
      org.opencontainers.image.source="${SOURCE}" \
      org.opencontainers.image.base.name="debian:bookworm (mmdebstrap)"

EXPOSE 8080
USER 10001:10001
# SIGQUIT: nginx finishes the requests it has, then ends.
STOPSIGNAL SIGQUIT
ENTRYPOINT ["/usr/sbin/nginx", "-e", "stderr", "-g", "daemon off;"]
