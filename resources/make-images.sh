#!/usr/bin/env bash
# Regenerates the three pictures compiled into the wizard. The committed
# files are the ones the build uses; run this only to change the artwork.
#   ErrorIcon.png     125x125 RGBA PNG: white bar on a red disc
#   QuestionIcon.png  256x256 RGBA PNG: white question mark on a blue disc
#   WizardBanner.bmp  158x286 BMP, 8 bits per pixel, 256-entry palette
# Needs ImageMagick 6 (convert) and the DejaVu fonts.
set -euo pipefail
cd "$(dirname "$0")"

font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
# No time stamps or other text chunks, so that a rerun gives the same bytes.
png_opts=(-strip -define png:exclude-chunks=date,time,tEXt,zTXt,iTXt -interlace none)

# Drawn at four times the size and scaled down for smooth edges.
convert -size 500x500 xc:none \
  -fill '#7f0d0d' -draw 'circle 250,258 250,18' \
  -fill '#d32020' -draw 'circle 250,250 250,14' \
  -fill '#e84a4a' -draw 'circle 250,250 250,40' \
  -fill '#d32020' -draw 'circle 250,262 250,40' \
  -fill white -draw 'roundrectangle 100,205 400,295 18,18' \
  -resize 125x125 "${png_opts[@]}" PNG32:ErrorIcon.png

convert -size 1024x1024 xc:none \
  -fill '#0b3a75' -draw 'circle 512,528 512,40' \
  -fill '#1d6fd1' -draw 'circle 512,512 512,32' \
  -fill '#3f8be6' -draw 'circle 512,512 512,80' \
  -fill '#1d6fd1' -draw 'circle 512,540 512,80' \
  -font "$font" -pointsize 700 -fill white -gravity center \
  -annotate +0+20 '?' \
  -resize 256x256 "${png_opts[@]}" PNG32:QuestionIcon.png

# A deep blue gradient with soft arcs and a stack of template sheets.
convert -size 158x286 gradient:'#0e2a4f'-'#2a6fb0' \
  -fill none -stroke 'rgba(255,255,255,0.10)' -strokewidth 14 \
  -draw 'circle 158,300 158,170' \
  -stroke 'rgba(255,255,255,0.07)' -strokewidth 8 \
  -draw 'circle 0,330 0,230' \
  -stroke 'rgba(255,255,255,0.06)' -strokewidth 3 \
  -draw 'circle 120,40 120,-20' \
  -stroke none \
  -fill 'rgba(255,255,255,0.35)' -draw 'roundrectangle 44,52 100,122 5,5' \
  -fill 'rgba(255,255,255,0.60)' -draw 'roundrectangle 52,44 108,114 5,5' \
  -fill white -draw 'roundrectangle 60,36 116,106 5,5' \
  -fill '#2a6fb0' -draw 'rectangle 68,50 108,54' \
  -draw 'rectangle 68,62 108,66' -draw 'rectangle 68,74 98,78' \
  -fill '#f0a830' -draw 'circle 104,96 104,88' \
  -dither FloydSteinberg -colors 256 -type Palette \
  -compress None BMP3:WizardBanner.bmp
