#!/usr/bin/env bash
# Sourced by the live tests that rotate the access log with logrotate: the stanza the package
# installs (packaging/logrotate/quorvix), pointed at the test's log folder, its postrotate signal
# sent to the test's quorvix, and without compression so that the test can read every file.
#
#   qvx_logrotate_conf LOGDIR PID >FILE
qvx_logrotate_conf() {
  local stanza
  stanza="$(dirname "${BASH_SOURCE[0]}")/../../packaging/logrotate/quorvix"
  sed -e "s#/var/log/quorvix/#$1/#g" \
      -e 's/^\( *\)\(compress\|delaycompress\)$/\1nocompress/' \
      -e "/^ *postrotate\$/,/^ *endscript\$/{/postrotate\|endscript/!s/.*/        kill -HUP $2/}" \
      "$stanza"
}
