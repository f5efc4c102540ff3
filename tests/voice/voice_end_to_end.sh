#!/usr/bin/env bash
# Speech in, command out: espeak-ng speaks two speech patterns, kormil-pocketsphinx recognises
# them in a recording, and the built kormil starts the paired commands.
# usage: voice_end_to_end.sh KORMIL KORMIL_SEND KORMIL_POCKETSPHINX   (exit 77: skipped)
set -euo pipefail
kormil=$1 send=$2 recogniser=$3

for tool in espeak-ng sox; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -d /usr/share/pocketsphinx/model/en-us ] || { echo "skipped: no pocketsphinx-en-us"; exit 77; }
if (exec 3<>/dev/tcp/127.0.0.1/2011) 2>/dev/null; then
    echo "skipped: TCP port 2011 is in use"
    exit 77
fi

work=$(mktemp -d)
pid=""
stop() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap stop EXIT
cp "$kormil" "$work/kormil"
cp "$send" "$work/kormil-send"
cp "$recogniser" "$work/kormil-pocketsphinx"
cat >"$work/kormil.ini" <<INI
[pairs]
pattern0=Open Mail
command0=touch $work/mail-opened
focus0=1
pattern1=play music
command1=touch $work/music-played
focus1=1
pattern2=lock screen
command2=touch $work/never
focus2=1
INI

QT_QPA_PLATFORM=offscreen "$work/kormil" 2>"$work/log" </dev/null >/dev/null &
pid=$!
for _ in $(seq 100); do
    grep -q 'started listening' "$work/log" && break
    sleep 0.1
done

for phrase in "open mail" "play music"; do
    espeak-ng -s 140 -w "$work/raw.wav" "$phrase"
    sox "$work/raw.wav" -r 16000 -c 1 -b 16 "$work/${phrase// /-}.wav"
done
# A second of quiet between the phrases makes them two utterances; a low noise floor under it
# all, as a microphone has.
sox -n -r 16000 -c 1 -b 16 "$work/pause.wav" trim 0 1
sox "$work/pause.wav" "$work/open-mail.wav" "$work/pause.wav" "$work/play-music.wav" \
    "$work/pause.wav" "$work/speech.wav"
sox -n -r 16000 -c 1 -b 16 "$work/noise.wav" synth "$(soxi -D "$work/speech.wav")" whitenoise \
    vol 0.002
sox -m "$work/speech.wav" "$work/noise.wav" "$work/spoken.wav"

"$work/kormil-pocketsphinx" "$work/kormil.ini" --infile "$work/spoken.wav" --host 127.0.0.1

for _ in $(seq 100); do
    [ -e "$work/mail-opened" ] && [ -e "$work/music-played" ] && break
    sleep 0.1
done
cat "$work/log"
[ -e "$work/mail-opened" ] && [ -e "$work/music-played" ] && [ ! -e "$work/never" ]
echo "both spoken commands ran"
