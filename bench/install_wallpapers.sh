#!/bin/sh
# Debian's wallpaper packages: large real photographs for the picture
# benchmarks (pipeline_bench takes them from /usr/share/backgrounds,
# /usr/share/wallpapers and /usr/share/desktop-base). Never commit them.
set -e
apt-get update -qq
for package in desktop-base ukui-wallpapers mate-backgrounds; do
    apt-get install -y -qq "$package" || echo "not installed: $package"
done
