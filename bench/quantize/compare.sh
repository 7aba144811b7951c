#!/bin/sh
# Side-by-side: our quantizer against pngquant and ImageMagick on the same
# 1024 x 1024 picture. Run from a scratch folder:
#   sh bench/quantize/compare.sh build/bench/quantize/quantize_bench
set -e
bench=${1:?path of quantize_bench}
"$bench" > /dev/null                       # writes photo.png
# Our PNG writer marks files with gamma 1.0, which pngquant would honour;
# the comparison wants the plain pixel values everywhere.
/usr/bin/python3 -c "from PIL import Image; Image.open('photo.png').save('photo.png')"
best() {  # best wall time in ms of 5 runs of the command
  min=
  for i in 1 2 3 4 5; do
    a=$(date +%s%N); "$@" > /dev/null 2>&1; b=$(date +%s%N)
    t=$(( (b - a) / 1000000 ))
    if [ -z "$min" ] || [ "$t" -lt "$min" ]; then min=$t; fi
  done
  echo "$min"
}
echo "pngquant 255 colours (whole program, PNG read and write included): $(best pngquant --force --speed 3 --output pq.png 255 photo.png) ms"
echo "pngquant --speed 10: $(best pngquant --force --speed 10 --output pq10.png 255 photo.png) ms"
echo "convert -colors 255 (whole program, PNG read and write included): $(best convert photo.png -colors 255 im.png) ms"
echo "convert reading and writing only: $(best convert photo.png copy.png) ms"
"$bench" photo.png pq.png pq10.png im.png
