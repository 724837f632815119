#!/bin/sh
# A pipe named like a picture: reading it would wait for a writer for ever.
mkfifo "$WORK/pipe.bmp"
