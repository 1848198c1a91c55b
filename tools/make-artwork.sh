#!/usr/bin/env bash
# Generates the launcher's resource artwork in res/:
#   res/splash_zh.png     splash picture, Traditional Chinese title lettering
#   res/splash_latin.png  the same picture with Latin title lettering
#   res/launcher.ico      application icon (256 PNG-compressed, 48, 32, 24, 16, 12; 32 bpp)
# and checks the format constraints of the results (the script fails if one does not hold).
# With the MinGW-w64 binutils installed it also compiles res/launcher.rc and checks
# the resources in it.
#
# Requires (Debian 12): imagemagick (ImageMagick 6 `convert`), fonts-noto-cjk, fontconfig, python3.
#   apt-get install imagemagick fonts-noto-cjk fontconfig python3
# Optional: binutils-mingw-w64-i686 (i686-w64-mingw32-windres) for the resource check.
#
# The artwork is drawn from scratch here; re-running the script rewrites the three files.
# res/launcher.rc and res/launcher.manifest are hand-written and are not touched.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
RES="$ROOT/res"
mkdir -p "$RES"

for tool in convert fc-list python3; do
    command -v "$tool" >/dev/null || { echo "make-artwork: '$tool' not found" >&2; exit 1; }
done

T="$(mktemp -d)"
trap 'rm -rf "$T"' EXIT

W=461
H=514
CX=230.5          # horizontal centre of the picture

# ---------------------------------------------------------------------------
# Font: Noto Serif CJK TC Bold from fonts-noto-cjk. The .ttc holds several
# faces (JP, KR, SC, TC, HK); ImageMagick takes face 0 unless told otherwise,
# so a private type.xml names the Traditional Chinese face by its index.
# ---------------------------------------------------------------------------
font_line="$(fc-list -f '%{file}|%{index}\n' ':family=Noto Serif CJK TC:style=Bold' | head -n1)"
if [[ -z "$font_line" ]]; then
    echo "make-artwork: Noto Serif CJK TC Bold not found (install fonts-noto-cjk)" >&2
    exit 1
fi
FONT_FILE="${font_line%%|*}"
FONT_FACE="${font_line##*|}"
echo "make-artwork: font $FONT_FILE (face $FONT_FACE)"
cat > "$T/type.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<typemap>
  <type name="VK-Title" family="VK Title" style="Normal" stretch="Normal" weight="700"
        glyphs="$FONT_FILE" face="$FONT_FACE"/>
</typemap>
EOF
export MAGICK_CONFIGURE_PATH="$T"
FONT=VK-Title
# 骨 is drawn differently in the Japanese and Traditional Chinese faces: if both
# renderings match, this ImageMagick ignored the face index.
if [[ "$FONT_FACE" != 0 ]] && [[ "$(convert -font "$FONT" -pointsize 48 label:骨 -format '%#' info:)" == \
      "$(convert -font "$FONT_FILE" -pointsize 48 label:骨 -format '%#' info:)" ]]; then
    echo "make-artwork: ImageMagick did not select face $FONT_FACE of $FONT_FILE" >&2
    exit 1
fi

# Deterministic output: no timestamps or other text chunks in the PNGs.
PNGOPTS=(-strip -define png:exclude-chunks=date,time,tEXt,zTXt,iTXt -interlace none -depth 8)

GOLD_HI='#fff1c4'
GOLD='#d9b25f'
GOLD_LO='#8a5a22'

# ---------------------------------------------------------------------------
# 1. Night sky: vertical gradient, a crimson glow rising from the horizon,
#    a pale halo behind the crest, and a seeded field of stars.
# ---------------------------------------------------------------------------
convert -size ${W}x${H} gradient:'#05040b'-'#231131' "$T/sky0.png"

# crimson horizon glow (ellipse centred below the bottom edge)
convert -size ${W}x${H} xc:black \
    -fill white -draw "ellipse $CX,$((H + 40)) 330,250 0,360" -blur 0x70 \
    "$T/horizon_mask.png"
convert -size ${W}x${H} xc:'#8c1c2c' "$T/horizon_mask.png" \
    -alpha off -compose CopyOpacity -composite "$T/horizon.png"

# cold halo behind the crest
convert -size ${W}x${H} xc:black \
    -fill white -draw "circle $CX,196 $CX,326" -blur 0x55 -level 0%,140% \
    "$T/halo_mask.png"
convert -size ${W}x${H} xc:'#6d5a9c' "$T/halo_mask.png" \
    -alpha off -compose CopyOpacity -composite "$T/halo.png"

# stars: sparse random points, a few of them larger; fading towards the bottom
convert -size ${W}x${H} xc:gray50 -seed 4711 +noise Random -channel G -separate +channel \
    -threshold 99.75% "$T/stars_small.png"
convert -size ${W}x${H} xc:gray50 -seed 1913 +noise Random -channel G -separate +channel \
    -threshold 99.96% -morphology Dilate Disk:1 -blur 0x0.8 "$T/stars_big.png"
convert "$T/stars_small.png" "$T/stars_big.png" -compose Lighten -composite \
    \( -size ${W}x${H} gradient:white-black -level 0%,75% \) -compose Multiply -composite \
    "$T/stars.png"

convert "$T/sky0.png" \
    "$T/horizon.png" -compose Over -composite \
    "$T/halo.png" -compose Screen -composite \
    "$T/stars.png" -compose Screen -composite \
    "$T/sky.png"

# ---------------------------------------------------------------------------
# 2. Rays fanning out behind the crest.
# ---------------------------------------------------------------------------
rays="$(awk -v cx="$CX" -v cy=196 'BEGIN {
    pi = atan2(0, -1); n = 24; r = 300;
    for (i = 0; i < n; i++) {
        a = 2 * pi * i / n; w = (i % 2 == 0) ? 0.035 : 0.018;
        printf "polygon %.1f,%.1f %.1f,%.1f %.1f,%.1f ", cx, cy,
            cx + r * cos(a - w), cy + r * sin(a - w),
            cx + r * cos(a + w), cy + r * sin(a + w);
    } }')"
convert -size ${W}x${H} xc:black -fill white -draw "$rays" -blur 0x2 \
    \( -size ${W}x${H} xc:black -fill white -draw "circle $CX,196 $CX,386" -blur 0x40 \) \
    -compose Multiply -composite -evaluate Multiply 0.32 "$T/rays_mask.png"
convert -size ${W}x${H} xc:"$GOLD" "$T/rays_mask.png" \
    -alpha off -compose CopyOpacity -composite "$T/rays.png"

# ---------------------------------------------------------------------------
# 3. Silhouettes: far hills and a ruined keep with spires on the horizon.
# ---------------------------------------------------------------------------
convert -size ${W}x${H} xc:none \
    -fill '#160a1c' -draw "path 'M 0,410 L 40,392 L 85,402 L 130,380 L 170,396 L 215,384 L 260,398 L 300,376 L 345,392 L 392,380 L 430,394 L 461,386 L 461,514 L 0,514 Z'" \
    -fill '#0b0610' -draw "path 'M 0,440 L 30,430 L 62,436 L 62,404 L 56,404 L 66,372 L 76,404 L 70,404 L 70,434 L 104,426 L 142,438 L 180,430 L 180,418 L 188,418 L 188,430 L 272,430 L 272,418 L 280,418 L 280,430 L 318,438 L 356,426 L 390,434 L 390,398 L 384,398 L 396,360 L 408,398 L 402,398 L 402,432 L 430,428 L 461,436 L 461,514 L 0,514 Z'" \
    "$T/land.png"

# ---------------------------------------------------------------------------
# 4. The crest: a shield with a double gold rim, a crescent and a sword under a
#    four-pointed star. Drawn on transparent layers so the icon can reuse it.
#    $1 = output, $2 = "fine" (splash, large icon) or "bold" (small icons:
#    thicker rim and sword, no fine lines, no star), $3 = glow opacity (0 = none)
# ---------------------------------------------------------------------------
SHIELD="M 146,104 Q $CX,84 315,104 L 315,196 Q 311,262 $CX,312 Q 150,262 146,196 Z"

# shield body: deep crimson, lighter towards the top, with a faint highlight
convert -size ${W}x${H} gradient:'#7f1c2c'-'#220610' \
    \( -size ${W}x${H} xc:black -fill white -draw "ellipse 205,140 70,50 0,360" -blur 0x30 \
       -evaluate Multiply 0.18 \) -compose Screen -composite "$T/shield_fill.png"
convert -size ${W}x${H} xc:black -fill white -draw "path '$SHIELD'" "$T/shield_mask.png"
convert "$T/shield_fill.png" "$T/shield_mask.png" -alpha off -compose CopyOpacity -composite \
    "$T/shield_body.png"

# gold gradient used for metalwork
convert -size ${W}x${H} gradient:"$GOLD_HI"-"$GOLD_LO" "$T/gold.png"

draw_crest() {
    local out="$1" style="$2" glow="$3"
    local rim blade guard grip fuller
    if [[ "$style" == bold ]]; then
        rim=(-fill none -stroke white -strokewidth 20 -draw "path '$SHIELD'")
        blade="polygon $CX,296 214,176 247,176"
        guard="roundrectangle 178,146 283,166 6,6"
        grip="rectangle 222,112 239,146"
        fuller=()
    else
        rim=(-fill none -stroke white -strokewidth 10 -draw "path '$SHIELD'"
             -stroke black -strokewidth 3 -draw "path '$SHIELD'")
        blade="polygon $CX,294 220,176 241,176"
        guard="roundrectangle 192,152 269,162 4,4"
        grip="rectangle 226,134 235,152"
        fuller=(-fill gray35 -draw "polygon 229.3,170 231.7,170 $CX,262")
    fi
    # metalwork mask: rims, crescent, sword
    convert -size ${W}x${H} xc:black "${rim[@]}" \
        -stroke none -fill white -draw "circle $CX,182 $CX,232" \
        -fill black -draw "circle $CX,166 $CX,211" \
        -fill white -draw "$blade" \
        -draw "polygon 220,176 241,176 238,162 223,162" \
        -draw "$guard" -draw "$grip" \
        "${fuller[@]}" \
        "$T/metal_mask.png"
    convert "$T/gold.png" "$T/metal_mask.png" -alpha off -compose CopyOpacity -composite \
        "$T/metal.png"
    if [[ "$style" == bold ]]; then
        convert -size ${W}x${H} xc:none -fill "$GOLD_HI" -draw "circle $CX,110 $CX,124" "$T/star4.png"
    else
        # four-pointed star above the grip
        convert -size ${W}x${H} xc:none -fill "$GOLD_HI" \
            -draw "polygon $CX,96 234.5,118 254,122 234.5,126 $CX,148 226.5,126 207,122 226.5,118" \
            "$T/star4.png"
    fi
    # warm glow around the shield
    convert "$T/shield_mask.png" -morphology Dilate Disk:6 -blur 0x12 "$T/crest_glow_mask.png"
    convert -size ${W}x${H} xc:'#e0a050' "$T/crest_glow_mask.png" -alpha off \
        -compose CopyOpacity -composite -channel A -evaluate Multiply "$glow" +channel \
        "$T/crest_glow.png"
    convert "$T/crest_glow.png" "$T/shield_body.png" -compose Over -composite \
        "$T/metal.png" -compose Over -composite \
        "$T/star4.png" -compose Over -composite \
        "$out"
}

draw_crest "$T/crest.png" fine 0.55
draw_crest "$T/crest_icon.png" fine 0
draw_crest "$T/crest_bold.png" bold 0

# ---------------------------------------------------------------------------
# 5. Title lettering: gold gradient with a dark outline and a soft glow.
#    $1 = output, $2 = text, $3 = point size, $4 = baseline-centred y, $5 = kerning
# ---------------------------------------------------------------------------
make_title() {
    local out="$1" text="$2" size="$3" y="$4" kern="$5"
    convert -size ${W}x${H} xc:black -font "$FONT" -pointsize "$size" -kerning "$kern" \
        -fill white -gravity north -annotate +0+"$y" "$text" "$T/title_mask.png"
    # gold face: bright at the top of the letters, darker below
    convert -size ${W}x${H} xc:black \
        \( -size ${W}x$((size + 30)) gradient:"$GOLD_HI"-"$GOLD_LO" \) \
        -geometry +0+$((y + 2)) -compose Over -composite "$T/title_gold.png"
    convert "$T/title_gold.png" "$T/title_mask.png" -alpha off -compose CopyOpacity -composite \
        "$T/title_face.png"
    # dark outline
    convert "$T/title_mask.png" -morphology Dilate Disk:2.5 -blur 0x0.7 "$T/title_edge_mask.png"
    convert -size ${W}x${H} xc:'#12060a' "$T/title_edge_mask.png" -alpha off \
        -compose CopyOpacity -composite "$T/title_edge.png"
    # glow
    convert "$T/title_mask.png" -morphology Dilate Disk:3 -blur 0x10 "$T/title_glow_mask.png"
    convert -size ${W}x${H} xc:'#ff9a3c' "$T/title_glow_mask.png" -alpha off \
        -compose CopyOpacity -composite -channel A -evaluate Multiply 0.7 +channel \
        "$T/title_glow.png"
    convert "$T/title_glow.png" "$T/title_edge.png" -compose Over -composite \
        "$T/title_face.png" -compose Over -composite "$out"
}

make_small_text() {
    local out="$1" text="$2" size="$3" y="$4" kern="$5" colour="$6"
    convert -size ${W}x${H} xc:none -font "$FONT" -pointsize "$size" -kerning "$kern" \
        -fill "$colour" -gravity north -annotate +0+"$y" "$text" "$out"
}

# divider: thin gold line with a diamond in the middle; $1 = output, $2 = y
make_divider() {
    local out="$1" y="$2"
    convert -size ${W}x${H} xc:none -stroke none \
        -fill "$GOLD" -draw "rectangle 120,$((y - 1)) 210,$y" -draw "rectangle 251,$((y - 1)) 341,$y" \
        -fill "$GOLD_HI" -draw "polygon $CX,$((y - 8)) 238,$y.5 $CX,$((y + 7)) 223,$y.5" \
        -fill "$GOLD" -draw "circle 116,$y.5 118,$y.5" -draw "circle 345,$y.5 347,$y.5" \
        "$out"
}

# ---------------------------------------------------------------------------
# 6. Frame, feathered rim and assembly.
# ---------------------------------------------------------------------------
# thin gold frame just inside the feathered edge
convert -size ${W}x${H} xc:none -fill none -stroke "$GOLD" -strokewidth 1.5 \
    -draw "roundrectangle 24,24 $((W - 25)),$((H - 25)) 14,14" \
    -stroke "$GOLD_LO" -strokewidth 1 \
    -draw "roundrectangle 29,29 $((W - 30)),$((H - 30)) 11,11" \
    "$T/frame.png"

# alpha: opaque rounded panel, blurred so the border fades out softly; the
# level step clips the last faint tail so the outer rim is exactly transparent
convert -size ${W}x${H} xc:black -fill white \
    -draw "roundrectangle 14,14 $((W - 15)),$((H - 15)) 22,22" -blur 0x5 \
    -level 3%,100% "$T/alpha.png"

# vignette darkening towards the edges
convert -size ${W}x${H} xc:black -fill white \
    -draw "ellipse $CX,$((H / 2)) 250,290 0,360" -blur 0x60 -negate \
    -evaluate Multiply 0.6 "$T/vignette_mask.png"
convert -size ${W}x${H} xc:black "$T/vignette_mask.png" -alpha off \
    -compose CopyOpacity -composite "$T/vignette.png"

convert "$T/sky.png" \
    "$T/rays.png" -compose Screen -composite \
    "$T/land.png" -compose Over -composite \
    "$T/crest.png" -compose Over -composite \
    "$T/vignette.png" -compose Over -composite \
    "$T/frame.png" -compose Over -composite \
    "$T/base.png"

# Chinese edition: 維卡利斯 with a small Latin subtitle
make_title "$T/title_zh.png" "維卡利斯" 66 332 14
make_divider "$T/div_zh.png" 434
make_small_text "$T/sub_zh.png" "V E L K A R I S" 15 447 2 "$GOLD"
convert "$T/base.png" "$T/title_zh.png" -compose Over -composite \
    "$T/div_zh.png" -compose Over -composite \
    "$T/sub_zh.png" -compose Over -composite \
    "$T/alpha.png" -alpha off -compose CopyOpacity -composite \
    "${PNGOPTS[@]}" "PNG32:$RES/splash_zh.png"

# Latin edition: VELKARIS, no Chinese lettering
make_title "$T/title_latin.png" "VELKARIS" 58 352 6
make_divider "$T/div_latin.png" 450
convert "$T/base.png" "$T/title_latin.png" -compose Over -composite \
    "$T/div_latin.png" -compose Over -composite \
    "$T/alpha.png" -alpha off -compose CopyOpacity -composite \
    "${PNGOPTS[@]}" "PNG32:$RES/splash_latin.png"

# ---------------------------------------------------------------------------
# 7. Icon: the crest, cut square from the crest layer.
# ---------------------------------------------------------------------------
# square_icon IN SIZE OUT: trim the crest layer to its bounding box, centre it
# on a transparent square with a small margin, scale to SIZE.
square_icon() {
    local in="$1" size="$2" out="$3" bw bh side
    read -r bw bh < <(convert "$in" -trim -format '%w %h\n' info:)
    side=$(( (bw > bh ? bw : bh) * 256 / 248 ))
    convert "$in" -trim +repage -background none -gravity center -extent ${side}x${side} \
        -filter Lanczos -resize ${size}x${size} "$out"
}
# 256, 48, 32: the full crest; 24, 16, 12: the bold variant, sharpened a little
ico_inputs=()
for s in 256 48 32; do
    square_icon "$T/crest_icon.png" $s "$T/icon_$s.png"
    ico_inputs+=("$T/icon_$s.png")
done
for s in 24 16 12; do
    square_icon "$T/crest_bold.png" $s "$T/icon_$s.png"
    convert "$T/icon_$s.png" -unsharp 0x0.5+0.5+0 "$T/icon_$s.png"
    ico_inputs+=("$T/icon_$s.png")
done
# PNG32: per image keeps every entry at 32 bits per pixel; the ICO coder stores
# images of 256 pixels as PNG and the smaller ones as BMP.
convert "${ico_inputs[@]/#/PNG32:}" -strip "$RES/launcher.ico"

# ---------------------------------------------------------------------------
# 8. Checks.
# ---------------------------------------------------------------------------
# When the MinGW-w64 binutils are present, also compile res/launcher.rc and
# check what lands in the resource file.
RESFILE=""
if command -v i686-w64-mingw32-windres >/dev/null; then
    RESFILE="$T/launcher.res"
    i686-w64-mingw32-windres -I "$RES" "$RES/launcher.rc" -O res -o "$RESFILE"
else
    echo "make-artwork: i686-w64-mingw32-windres not found, resource script not checked"
fi

python3 - "$RES" "$RESFILE" <<'PY'
import struct, sys, zlib, os

res = sys.argv[1]
resfile = sys.argv[2]
errors = []

def png_rgba(path):
    """Decode an 8-bit RGBA non-interlaced PNG; return (ihdr, rows of bytes)."""
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError('not a PNG')
    pos, idat, ihdr = 8, b'', None
    while pos < len(data):
        length, ctype = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if ctype == b'IHDR':
            ihdr = struct.unpack('>IIBBBBB', body)
        elif ctype == b'IDAT':
            idat += body
        pos += 12 + length
    w, h, depth, ctype, _, _, interlace = ihdr
    if (depth, ctype, interlace) != (8, 6, 0):
        return ihdr, None
    raw = zlib.decompress(idat)
    stride, bpp = w * 4, 4
    rows, prev, i = [], bytearray(stride), 0
    for _ in range(h):
        f = raw[i]; line = bytearray(raw[i + 1:i + 1 + stride]); i += 1 + stride
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if f == 1: line[x] = (line[x] + a) & 255
            elif f == 2: line[x] = (line[x] + b) & 255
            elif f == 3: line[x] = (line[x] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c; pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pr = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[x] = (line[x] + pr) & 255
        rows.append(bytes(line)); prev = line
    return ihdr, rows

for name in ('splash_zh.png', 'splash_latin.png'):
    path = os.path.join(res, name)
    ihdr, rows = png_rgba(path)
    w, h, depth, ctype, _, _, interlace = ihdr
    if (w, h) != (461, 514):
        errors.append(f'{name}: size {w}x{h}, want 461x514')
    if (depth, ctype, interlace) != (8, 6, 0):
        errors.append(f'{name}: depth {depth} colour type {ctype} interlace {interlace}, want 8/6/0')
        continue
    alpha = lambda x, y: rows[y][x * 4 + 3]
    rim = [alpha(x, 0) for x in range(w)] + [alpha(x, h - 1) for x in range(w)] + \
          [alpha(0, y) for y in range(h)] + [alpha(w - 1, y) for y in range(h)]
    if any(rim):
        errors.append(f'{name}: outermost pixels not fully transparent (max alpha {max(rim)})')
    hist = [0] * 256
    for r in rows:
        for a in r[3::4]:
            hist[a] += 1
    partial = sum(hist[1:255])
    if partial < 2 * (w + h):
        errors.append(f'{name}: only {partial} partly transparent pixels, no feathered border')
    if hist[255] < w * h // 2:
        errors.append(f'{name}: only {hist[255]} opaque pixels')
    # the centre of the artwork is opaque
    if alpha(w // 2, h // 2) != 255:
        errors.append(f'{name}: centre pixel not opaque')
    size = os.path.getsize(path)
    if size > 400 * 1024:
        errors.append(f'{name}: {size} bytes, too large')
    print(f'{name}: {w}x{h} depth {depth} type {ctype} interlace {interlace}, '
          f'corner alpha {alpha(0, 0)}, {partial} partial-alpha px, {size} bytes')

# ICO directory: six entries 256, 48, 32, 24, 16, 12, all 32 bpp, 256 stored as PNG
ico = open(os.path.join(res, 'launcher.ico'), 'rb').read()
reserved, itype, count = struct.unpack('<HHH', ico[:6])
want = [256, 48, 32, 24, 16, 12]
if (reserved, itype, count) != (0, 1, len(want)):
    errors.append(f'launcher.ico: header {reserved},{itype},{count}, want 0,1,6')
else:
    for n, size in enumerate(want):
        bw, bh, colours, _, planes, bpp, nbytes, offset = \
            struct.unpack('<BBBBHHII', ico[6 + 16 * n:22 + 16 * n])
        bw, bh = bw or 256, bh or 256
        blob = ico[offset:offset + nbytes]
        is_png = blob[:8] == b'\x89PNG\r\n\x1a\n'
        if is_png:
            iw, ih, idepth, ictype = struct.unpack('>IIBB', blob[16:26])
            actual = (iw, ih, idepth * 4 if ictype == 6 else -1)
        else:
            hdr = struct.unpack('<IiiHH', blob[:16])
            actual = (hdr[1], hdr[2] // 2, hdr[4])
        print(f'launcher.ico #{n + 1}: {bw}x{bh} bpp {bpp} {"PNG" if is_png else "BMP"} '
              f'{nbytes} bytes, image {actual}')
        if (bw, bh, bpp) != (size, size, 32) or actual != (size, size, 32):
            errors.append(f'launcher.ico entry {n + 1}: {bw}x{bh}/{bpp} image {actual}, want {size}/32')
        if (size == 256) != is_png:
            errors.append(f'launcher.ico entry {n + 1}: PNG={is_png}, want PNG only for 256')

# Compiled resources: (type, name) -> (language, data)
if resfile:
    data, pos, found = open(resfile, 'rb').read(), 0, {}
    def ident(p):
        if struct.unpack_from('<H', data, p)[0] == 0xFFFF:
            return struct.unpack_from('<H', data, p + 2)[0], p + 4
        e = p
        while struct.unpack_from('<H', data, e)[0]:
            e += 2
        return data[p:e].decode('utf-16-le'), e + 2
    while pos < len(data):
        dsize, hsize = struct.unpack_from('<II', data, pos)
        rtype, p = ident(pos + 8)
        rname, p = ident(p)
        lang = struct.unpack_from('<H', data, ((p + 3) & ~3) + 6)[0]
        if dsize:
            found[(rtype, rname)] = (lang, data[pos + hsize:pos + hsize + dsize])
        pos = (pos + hsize + dsize + 3) & ~3
    def need(key, what):
        if key not in found:
            errors.append(f'launcher.rc: {what} missing')
            return None, b''
        return found[key]
    lang, blob = need(('PNG', 101), 'PNG 101')
    if blob and (lang != 0x412 or blob != open(os.path.join(res, 'splash_zh.png'), 'rb').read()):
        errors.append(f'launcher.rc: PNG 101 language {lang:#x} or data differ from splash_zh.png')
    lang, blob = need(('PNG', 104), 'PNG 104')
    if blob and blob != open(os.path.join(res, 'splash_latin.png'), 'rb').read():
        errors.append('launcher.rc: PNG 104 data differ from splash_latin.png')
    lang, group = need((14, 102), 'icon group 102')
    if group:
        n = struct.unpack_from('<H', group, 4)[0]
        ids = [struct.unpack_from('<H', group, 6 + 14 * k + 12)[0] for k in range(n)]
        sizes = [group[6 + 14 * k] or 256 for k in range(n)]
        if sizes != want or any((3, i) not in found for i in ids):
            errors.append(f'launcher.rc: icon group sizes {sizes} ids {ids}')
        print(f'launcher.rc: icon group 102 sizes {sizes}, icon ids {ids}')
    lang, man = need((24, 1), 'manifest 1')
    if man and b'requireAdministrator' not in man:
        errors.append('launcher.rc: manifest without requireAdministrator')
    lang, ver = need((16, 1), 'VERSIONINFO')
    if ver and 'Corvane'.encode('utf-16-le') not in ver:
        errors.append('launcher.rc: VERSIONINFO without company name')
    print('launcher.rc: resources', sorted(found, key=str))

if errors:
    print('make-artwork: CHECK FAILED', *errors, sep='\n  ', file=sys.stderr)
    sys.exit(1)
print('make-artwork: all checks passed')
PY
