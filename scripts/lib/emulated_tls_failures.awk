# Reads a CTest LastTest.log and prints the name of each failed test whose
# output shows a TLS handshake that broke off: the emulated 32-bit Wine's
# own message, the secure-channel error (12157), or the test TLS front's
# line for a client that left in the middle of a handshake.
# (scripts/test-i686.sh)
/^[0-9]+\/[0-9]+ Test: / { name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name); broken = 0; next }
/GnuTLS error|12157|handshake refused/ { broken = 1 }
/^Test Failed/ { if (broken && name != "") print name }
/^Test Passed/ { name = "" }
