#!/bin/bash
# FTPS throughput on loopback against vsftpd with TLS required (explicit TLS,
# PROT P, session reuse on data connections), beside curl --ssl-reqd: the
# transfer benchmark with TLS.
#   bench/ftps.sh [SIZE_MIB] [ROUNDS]
BENCH_TLS=1 exec "$(dirname "$0")/transfer.sh" "$@"
