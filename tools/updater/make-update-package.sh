#!/bin/sh
# make-update-package.sh FOLDER PACKAGE.zip PRIVATE-KEY.pem
#
# Builds an update package the way a release does: FOLDER holds upgrade.cfg and the files it
# names (or a folder "upgrade" holding them); the zip keeps Unix modes, stores no links and no
# extra attributes, and the detached signature PACKAGE.zip.sig is an ECDSA P-256 signature
# over SHA-256 of the zip, which Fernlift checks against the public key built into it.
#
# A release key pair is made once with
#   openssl ecparam -name prime256v1 -genkey -noout -out release-private.pem
#   openssl ec -in release-private.pem -pubout -out release-public.pem
# and Fernlift is built with -DFERNLIFT_PUBLIC_KEY=/path/to/release-public.pem.
set -eu
if [ $# -ne 3 ]; then
    echo "usage: $0 FOLDER PACKAGE.zip PRIVATE-KEY.pem" >&2
    exit 2
fi
folder=$1 package=$2 key=$3
case "$package" in /*) ;; *) package="$(pwd)/$package" ;; esac
if [ ! -f "$folder/upgrade.cfg" ] && [ ! -f "$folder/upgrade/upgrade.cfg" ]; then
    echo "$0: $folder holds no upgrade.cfg" >&2
    exit 1
fi
if [ -n "$(find "$folder" -type l -print -quit)" ]; then
    echo "$0: $folder holds symbolic links; packages may not" >&2
    exit 1
fi
rm -f "$package" "$package.sig"
(cd "$folder" && zip -q -r -X "$package" .)
openssl dgst -sha256 -sign "$key" -out "$package.sig" "$package"
# Check what was made with the matching public key, as Fernlift will.
openssl ec -in "$key" -pubout 2>/dev/null |
    openssl dgst -sha256 -verify /dev/stdin -signature "$package.sig" "$package" >/dev/null
echo "$package"
