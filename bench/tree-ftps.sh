#!/bin/bash
# The tree of 10,000 files through the queue over FTPS (session reuse on
# every data connection), beside lftp mirror over FTPS, in one run.
BENCH_TLS=1 exec "$(dirname "$0")/queue.sh" "$@"
