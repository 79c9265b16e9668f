#!/usr/bin/env bash
# Help, version and mistakes on both programs' command lines: the exit status, the stream and the
# first words of the answer, with no display at all (nothing may open a window or need X).
# Usage: command_lines.sh VARNEL VARNEL_CLI VARNEL_CLI_UNPACK (the program the launcher starts for unpack)
set -uo pipefail
varnel=$1 cli=$2 reader=$3
map=$(dirname "$0")/../../samples/RGB.byte.tif
version=$(sed -n 's/^project(Varnel VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
failures=0

# expect STATUS STREAM PATTERN -- COMMAND...   (STREAM is out or err; PATTERN an extended regex
# the stream's first line must match; the other stream must stay empty)
expect() {
    local status=$1 stream=$2 pattern=$3
    shift 4
    local out err code
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" 2>/tmp/command_lines.$$)
    code=$?
    err=$(cat /tmp/command_lines.$$)
    rm -f /tmp/command_lines.$$
    local said=$out quiet=$err
    [ "$stream" = err ] && said=$err quiet=$out
    if [ "$code" -ne "$status" ] || ! head -1 <<<"$said" | grep -Eq "$pattern" || [ -n "$quiet" ]; then
        echo "FAIL: $* -> status $code (want $status)"
        echo "  stdout: ${out:0:300}"
        echo "  stderr: ${err:0:300}"
        failures=$((failures + 1))
    fi
}

expect 0 out '^Usage: varnel \[options\] \[file\]$'   -- "$varnel" --help
expect 0 out '^Usage: varnel '                        -- "$varnel" -h
expect 0 out "^varnel $version\$"                     -- "$varnel" --version
expect 0 out "^varnel $version\$"                     -- "$varnel" -platform offscreen --version
expect 2 err "^varnel: Unknown option 'frobnicate'"  -- "$varnel" --frobnicate map.jpg
expect 0 out '^usage: varnel-cli COMMAND ARGS'        -- "$cli" --help
expect 0 out "^varnel-cli $version\$"                 -- "$cli" --version
expect 2 err '^varnel-cli: unknown option --frob'     -- "$cli" --frob
expect 0 out '^usage: varnel-cli output WORKSPACE '   -- "$cli" output --help
expect 0 out '^usage: varnel-cli fit --width W '      -- "$cli" fit points.csv --help
# What unpack runs in loads only what reading needs, and the launcher before it only the C library:
# GDAL and PROJ, with some ninety libraries behind them, are the tool's, and loading them took a
# sixth of unpack's time.
for program in "$reader" "$cli"; do
    if loaded=$(readelf -d "$program" | grep -E 'NEEDED.*lib(gdal|proj|tiff|geotiff)'); then
        echo "FAIL: $program loads what only the tool needs: $loaded"
        failures=$((failures + 1))
    fi
done
if loaded=$(readelf -d "$cli" | grep NEEDED | grep -v 'libc\.so'); then
    echo "FAIL: the launcher $cli loads more than the C library: $loaded"
    failures=$((failures + 1))
fi
# A wrong command line is status 2, whatever is wrong in it.
expect 2 err '^usage: varnel-cli COMMAND ARGS'        -- "$cli"
expect 2 err '^usage: varnel-cli COMMAND ARGS'        -- "$cli" frob
expect 2 err '^varnel-cli info: unknown option --frob' -- "$cli" info --frob x.pws
expect 2 err '^varnel-cli export: unknown option --frob' -- "$cli" export "$map" --frob=1 --format world -o x.wld
expect 2 err '^varnel-cli export: usage: varnel-cli export FILE' -- "$cli" export "$map" --format world
expect 2 err '^varnel-cli export: a world file describes the whole picture' -- "$cli" export "$map" --format world --range 0,1,0,1 -o x.wld
expect 2 err '^varnel-cli export: -o - writes text outputs only' -- "$cli" export "$map" --format geotiff -o -
# --name=value is --name value; -o - puts a text output alone on standard output.
expect 0 out '^#CRS: '                                -- "$cli" export "$map" --format=points -o -
expect 0 out '^latitude,longitude,'                   -- "$cli" export --format=csv -o - "$map"
# A world file: GDAL's pixel sizes of the sample and the centre of its first pixel; no .prj.
world=$("$cli" export "$map" --format world -o - 2>/tmp/command_lines.$$ | tr '\n' ' ')
[ "$world" = "300.03792667509481 0 0 -300.04178272980499 102135.01896333754 2826764.9791086349 " ] &&
    grep -q '\.prj' /tmp/command_lines.$$ || { echo "FAIL: export --format world -o - wrote: $world"; failures=$((failures + 1)); }

# No output replaces an input, by any name that leads to it (a link, a hard link, the .prj beside
# a world file): status 1, and every file stays as it was.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$map" "$work/map.tif" && cp "$map" "$work/m.prj" && ln -s map.tif "$work/link.tif" && ln "$work/map.tif" "$work/hard.tif"
coefficients=1,0,0,0,0,1,0,0,0,0,0,0,0,0,0,0
bmp=$(dirname "$0")/../data/pictures/bmp/pal8.bmp
cp "$bmp" "$work/pal8.bmp" && "$cli" pack --format gpf --coef $coefficients "$bmp" -o "$work/p.gpf" >/dev/null
while read -r -a words; do
    before=$(cd "$work" && md5sum *)
    refusal=$("$cli" "${words[@]/#@/$work/}" 2>&1 >/dev/null)
    code=$?
    [ "$code" -eq 1 ] && grep -q 'is the same file as the input' <<<"$refusal" && [ "$(cd "$work" && md5sum *)" = "$before" ] ||
        { echo "FAIL: ${words[*]} -> status $code: ${refusal:0:300}"; failures=$((failures + 1)); }
done <<EOF
export @map.tif --format world -o @map.tif
export @map.tif --format=geotiff -o @link.tif
export @link.tif --format=csv -o @hard.tif
export @m.prj --format world -o @m.wld
pack --format dpf --coef $coefficients @pal8.bmp -o @pal8.bmp
unpack @p.gpf -o @p.gpf
EOF

# geocode: a picture and points on a smooth, not polynomial, warp make a workspace that keeps its
# transformation; locate then reads out, with the saved one or another chosen, where GDAL's GCP
# transformers put the pixel (1e-6 degree). Then bad choices: status, message, nothing written.
picture=$(dirname "$0")/../data/pictures/bmp/hopper.bmp
awk 'BEGIN { print "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual"
    for (k = 0; k < 16; k++) { c = (k * 37) % 120 + 4; r = (k * 53) % 118 + 5
        printf "%.9f,%.9f,%d,%d,1,0,0,0\n", 10 + 0.01 * c + 0.002 * sin(c / 19) * cos(r / 23), 50 - 0.008 * r + 1e-5 * c * r, c, -r } }' >"$work/p.points"
gcps=$(awk -F, 'NR > 1 { printf " -gcp %s %s %s %s", $3, -$4, $1, $2 }' "$work/p.points")
head -9 "$work/p.points" >"$work/p8.points"
expect 0 out '"points": 16, "geocoded": true, "transform": "poly2", "fit_crs": "geographic"}$' -- \
    "$cli" geocode "$picture" --points "$work/p.points" -o "$work/g.pws" --transform poly2
expect 0 out '"transform": "poly2", "fit_crs": "geographic"}$' -- "$cli" info "$work/g.pws"
printf 'transform=poly2\nreference=ref/roads.gpkg\nreference=/gone/a.tif\n' >"$work/g.pws.geocoding"
expect 0 out "\"fit_crs\": \"geographic\", \"references\": \[\"$work/ref/roads.gpkg\", \"/gone/a.tif\"\]}\$" -- "$cli" info "$work/g.pws"
for pixel in 37.5,81.25 120,3; do
    for pair in ":-order 2" "--transform=poly3:-order 3" "--transform=tps:-tps"; do
        ours=$("$cli" locate "$work/g.pws" --pixel $pixel ${pair%%:*} | sed 's/[^0-9.,-]//g')
        gdal=$(tr , ' ' <<<$pixel | gdaltransform ${pair#*:} $gcps)
        awk -v o="$ours" -v g="$gdal" 'BEGIN { split(o, a, ","); split(g, b, " ")
            exit !(a[1] - b[2] < 1e-6 && b[2] - a[1] < 1e-6 && a[2] - b[1] < 1e-6 && b[1] - a[2] < 1e-6) }' ||
            { echo "FAIL: locate $pixel ${pair%%:*} gave $ours, GDAL $gdal"; failures=$((failures + 1)); }
    done
done
long=EPSG:999999$(printf %0100d 0 | tr 0 x)
while IFS='|' read -r status pattern command; do
    eval "expect $status err '$pattern' -- \"\$cli\" $command"
done <<EOF
2|^varnel-cli locate: --transform must be affine, helmert, projective, poly2, poly3 or tps, not .poly4.$|locate \$work/g.pws --pixel 1,1 --transform poly4
2|^varnel-cli rectify: --fit-crs: The coordinate system "EPSG:999999x{29}…x{39}" is not one PROJ knows.$|rectify \$work/g.pws -o \$work/r.tif --fit-crs \$long
1|^varnel-cli geocode: The third-order polynomial transformation needs at least 10 control points, and the map has 8.$|geocode \$picture --points \$work/p8.points -o \$work/p8.pws --transform poly3
1|^varnel-cli rectify: The extent misses the map.$|rectify \$work/g.pws -o \$work/r.tif --extent 100,10,101,11
1|^varnel-cli geocode: The projection cannot be told from these points: they span less than 2 degrees|geocode \$picture --points \$work/p8.points -o \$work/p8.pws --fit-crs auto
EOF
expect 0 out '"crs": "EPSG:32632", ' -- "$cli" rectify "$work/g.pws" -o "$work/r.tif" --fit-crs utm --transform poly3
[ ! -e "$work/p8.pws" ] || { echo "FAIL: a refused geocode wrote its workspace"; failures=$((failures + 1)); }
# auto: the picture as a polar stereographic map of the Arctic, 47 km pixels, 20 points whose
# positions GDAL gives; the projection is found and kept, and locate reads out what GDAL does.
awk 'BEGIN { for (k = 0; k < 20; k++) printf "%d %d\n", (k * 37) % 120 + 4, (k * 53) % 118 + 5 }' >"$work/a.pix"
awk '{ print -3e6 + 47000 * $1, 3e6 - 47000 * $2 }' "$work/a.pix" | gdaltransform -s_srs EPSG:3413 -t_srs OGC:CRS84 |
    paste -d' ' "$work/a.pix" - | awk 'BEGIN { print "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual" }
        { printf "%.9f,%.9f,%d,%d,1,0,0,0\n", $3, $4, $1, -$2 }' >"$work/a.points"
expect 0 out '"fit_crs": "\+proj=stere \+lat_0=90 ' -- "$cli" geocode "$picture" --points "$work/a.points" -o "$work/a.pws" --fit-crs auto
ours=$("$cli" locate "$work/a.pws" --pixel 60.5,70.25 | sed 's/[^0-9.,-]//g')
gdal=$(echo "$(( -3000000 + 47000 * 605 / 10 )) $(( 3000000 - 47000 * 7025 / 100 ))" | gdaltransform -s_srs EPSG:3413 -t_srs OGC:CRS84)
awk -v o="$ours" -v g="$gdal" 'BEGIN { split(o, a, ","); split(g, b, " ")
    exit !(a[1] - b[2] < 1e-6 && b[2] - a[1] < 1e-6 && a[2] - b[1] < 1e-6 && b[1] - a[2] < 1e-6) }' ||
    { echo "FAIL: locate on the map found by auto gave $ours, GDAL $gdal"; failures=$((failures + 1)); }
# overlay: a 1200 x 900 map in a Lambert conic (2.5 km pixels), geo-coded from 12 points in its
# own projection, with a world graticule as two-vertex GeoJSON lines from pole to pole (the south
# pole has no place in the conic) drawn in pure red: every sample of every line GDAL puts on the
# map has a red pixel within 2 pixels, read back by GDAL.
lcc="+proj=lcc +lat_1=33 +lat_2=45 +lat_0=39 +lon_0=-96 +datum=WGS84 +units=m +no_defs"
gdal_create -q -of BMP -outsize 1200 900 -bands 3 -burn 230 -burn 230 -burn 200 "$work/conic.bmp"
awk 'BEGIN { for (k = 0; k < 12; k++) printf "%d %d\n", (k * 397) % 1150 + 20, (k * 241) % 860 + 20 }' >"$work/c.pix"
awk '{ print -1.5e6 + 2500 * $1, 2.5e6 - 2500 * $2 }' "$work/c.pix" | gdaltransform -s_srs "$lcc" -t_srs OGC:CRS84 |
    paste -d' ' "$work/c.pix" - | awk 'BEGIN { print "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual" }
        { printf "%.9f,%.9f,%d,%d,1,0,0,0\n", $3, $4, $1, -$2 }' >"$work/c.points"
"$cli" geocode "$work/conic.bmp" --points "$work/c.points" -o "$work/c.pws" --fit-crs "$lcc" >/dev/null
awk 'BEGIN { printf "{\"type\":\"FeatureCollection\",\"features\":["
    for (k = 0; k < 19; k++) { if (k < 11) { a = -120 + 5 * k; c = "[[" a ",-90],[" a ",90]]" } else { a = 20 + 5 * (k - 11); c = "[[-180," a "],[180," a "]]" }
        printf "%s{\"type\":\"Feature\",\"properties\":{},\"geometry\":{\"type\":\"LineString\",\"coordinates\":%s}}", k ? "," : "", c }
    print "]}" }' >"$work/graticule.geojson"
expect 0 out '^\{"written": \[".*/c.png"\], "lines": 19, ' -- "$cli" overlay "$work/c.pws" --reference "$work/graticule.geojson" --color FF0000 -o "$work/c.png"
awk 'BEGIN { for (k = 0; k < 19; k++) for (t = 0; t <= 40; t++)
    if (k < 11) print k, -120 + 5 * k, 20 + 35 * t / 40; else print k, -125 + 60 * t / 40, 20 + 5 * (k - 11) }' >"$work/samples"
cut -d' ' -f2,3 "$work/samples" | gdaltransform -s_srs OGC:CRS84 -t_srs "$lcc" | paste -d' ' "$work/samples" - |
    awk '{ c = int(($4 + 1.5e6) / 2500); r = int((2.5e6 - $5) / 2500)
        if (c >= 2 && r >= 2 && c < 1198 && r < 898) for (d = 0; d < 25; d++) print $1, c + d % 5 - 2, r + int(d / 5) - 2 }' >"$work/near"
cut -d' ' -f2,3 "$work/near" | gdallocationinfo -valonly "$work/c.png" | paste - - - | paste -d' ' "$work/near" - |
    awk '{ s = int((NR - 1) / 25); line[s] = $1; if ($4 == 255 && $5 == 0 && $6 == 0) red[s] = 1 }
        END { for (s in line) { seen[line[s]]++; found[line[s]] += red[s] ? 1 : 0 }
            for (l in seen) if (found[l] < 0.98 * seen[l] || seen[l] < 5) { print "line " l ": " found[l] " of " seen[l]; bad = 1 }
            exit bad + (length(seen) < 12) }' ||
    { echo "FAIL: overlay's red graticule is not where GDAL puts it"; failures=$((failures + 1)); }
gdal_create -q -of PNG -outsize 50 50 -bands 3 "$work/plain.png"
cp "$work/plain.png" "$work/world.png" && printf '2500\n0\n0\n-2500\n0\n3200000\n' >"$work/world.pgw" && echo 'PROJCS["nothing"]' >"$work/world.prj"
printf '{"type":"FeatureCollection","features":[{"type":"Feature","properties":{},"geometry":{"type":"LineString","coordinates":"x"}}]}' >"$work/nogeometry.geojson"
printf '{"type":"FeatureCollection","features":[{"type":"Feature","geometry":{"type":"LineString","coord' >"$work/broken.geojson"
printf '{"type":"FeatureCollection","features":[{"type":"Feature","properties":{},"geometry":{"type":"Point","coordinates":[10,50]}}]}' >"$work/europe.geojson"
while IFS='|' read -r status pattern command; do
    eval "expect $status err '$pattern' -- \"\$cli\" $command"
done <<EOF
1|^varnel-cli overlay: .*plain.png cannot be drawn: it has no georeference|overlay \$work/c.pws --reference \$work/plain.png -o \$work/o.png
1|^varnel-cli overlay: .*world.png cannot be drawn: world.prj beside it holds no coordinate system PROJ knows$|overlay \$work/c.pws --reference \$work/world.png -o \$work/o.png
1|^varnel-cli overlay: .*nogeometry.geojson cannot be drawn: none of its features .1. has a geometry that can be read|overlay \$work/c.pws --reference \$work/nogeometry.geojson -o \$work/o.png
1|^varnel-cli overlay: .*broken.geojson cannot be drawn: GDAL cannot read it as a map|overlay \$work/c.pws --reference \$work/broken.geojson -o \$work/o.png
1|^varnel-cli overlay: .*europe.geojson does not overlap the map$|overlay \$work/c.pws --reference \$work/europe.geojson -o \$work/o.png
2|^varnel-cli overlay: --color needs six hexadecimal digits RRGGBB, not .red.$|overlay \$work/c.pws --graticule 1 --color red -o \$work/o.png
EOF
[ ! -e "$work/o.png" ] || { echo "FAIL: a refused overlay wrote its picture"; failures=$((failures + 1)); }
# With its system in the .prj, the PNG's world file places its outline.
gdalsrsinfo -o wkt_esri EPSG:5070 >"$work/world.prj"
expect 0 out '"lines": 1, "points": 0, ' -- "$cli" overlay "$work/c.pws" --reference "$work/world.png" -o "$work/world-outline.png"
# A reference wholly inside the sample GeoTIFF's UTM map, away from its corners, overlaps it.
printf '{"type":"FeatureCollection","features":[{"type":"Feature","properties":{},"geometry":{"type":"Polygon","coordinates":[[[-77.9,24.2],[-77.5,24.2],[-77.5,24.6],[-77.9,24.2]]]}},{"type":"Feature","properties":{},"geometry":{"type":"Point","coordinates":[-77.7,24.4]}}]}' >"$work/inside.geojson"
expect 0 out '"lines": 1, "points": 1, ' -- "$cli" overlay "$map" --reference "$work/inside.geojson" -o "$work/inside.png"
# A GeoTIFF map (NAD27 UTM by its citation, NAD83 transverse Mercator and a user-defined zone by
# its keys) rectifies onto the grid gdalwarp chooses for it: the same geotransform and size.
for name in utmsmall transverse_mercator rgb-byte-tenth; do
    tif=$(dirname "$0")/../data/geotiff/$name.tif
    ours=$("$cli" rectify "$tif" -o "$work/$name.r.tif" --crs EPSG:4326 | sed 's/.*"geotransform": \[\(.*\)\], "width": \([0-9]*\), "height": \([0-9]*\)}/\1,\2,\3/')
    gdalwarp -q -overwrite -t_srs EPSG:4326 "$tif" "$work/$name.g.tif" && gdal=$(gdalinfo "$work/$name.g.tif" |
        sed -n 's/^Size is \([0-9]*\), \([0-9]*\)$/\1,\2/p; s/^Origin = (\(.*\),\(.*\))$/\1,\2/p; s/^Pixel Size = (\(.*\),\(.*\))$/\1,\2/p' | paste -sd,)
    awk -v o="$ours" -v g="$gdal" 'BEGIN { split(o, a, ","); split(g, b, ",")
        d[1] = a[1] - b[3]; d[2] = a[2] - b[5]; d[3] = a[4] - b[4]; d[4] = a[6] - b[6]; d[5] = a[7] - b[1]; d[6] = a[8] - b[2]
        for (k = 1; k <= 6; k++) if (d[k] > 1e-9 || d[k] < -1e-9) exit 1 }' ||
        { echo "FAIL: rectify $name gave $ours, gdalwarp $gdal"; failures=$((failures + 1)); }
done

# A device, a FIFO or standard output is written into: -o /dev/stdout puts the file before the
# JSON, on a pipe and in a file the shell opened alike.
size=$(stat -c %s "$work/p.gpf")
for into in pipe file; do
    if [ $into = pipe ]; then
        "$cli" pack --format gpf --coef $coefficients "$bmp" -o /dev/stdout | cat >"$work/piped"
    else
        "$cli" pack --format gpf --coef $coefficients "$bmp" -o /dev/stdout >"$work/piped"
    fi
    head -c "$size" "$work/piped" | cmp -s - "$work/p.gpf" && tail -c +$((size + 1)) "$work/piped" | grep -q '^{"width"' ||
        { echo "FAIL: pack -o /dev/stdout into a $into wrote: $(head -c 100 "$work/piped" | od -c | head -2)"; failures=$((failures + 1)); }
done

# Every command's usage, from the command list: its --help starts with it, and a command given
# no arguments refuses with it (after a line saying what is missing, for some).
commands=$("$cli" --help | sed -n '/^commands:$/,/^options:$/{/^  /p}')
[ -n "$commands" ] || { echo "FAIL: varnel-cli --help lists no commands"; failures=$((failures + 1)); }
while IFS= read -r line; do
    usage="usage: varnel-cli ${line#  }"
    usage=${usage%%   *}
    name=${line#  }
    name=${name%% *}
    if [ "$("$cli" "$name" --help | head -1)" != "$usage" ]; then
        echo "FAIL: varnel-cli $name --help does not start with: $usage"
        failures=$((failures + 1))
    fi
    refusal=$(env -u DISPLAY "$cli" "$name" 2>&1 >/dev/null)
    code=$?
    if [ "$code" -ne 2 ] || ! grep -Fq -- "$usage" <<<"$refusal"; then
        echo "FAIL: varnel-cli $name without arguments -> status $code: ${refusal:0:300}"
        failures=$((failures + 1))
    fi
done <<<"$commands"

# --progress, before or after the command, writes whole percentages on standard error up to 100;
# without it standard error stays empty. The JSON answer is the same either way.
plain=$("$cli" geotiff "$map" 2>/tmp/command_lines.$$)
[ -s /tmp/command_lines.$$ ] && { echo "FAIL: geotiff without --progress wrote on stderr"; failures=$((failures + 1)); }
for where in before after; do
    if [ $where = before ]; then answer=$("$cli" --progress geotiff "$map" 2>/tmp/command_lines.$$)
    else answer=$("$cli" geotiff "$map" --progress 2>/tmp/command_lines.$$); fi
    if [ "$answer" != "$plain" ] || ! grep -Eqx '[0-9]{1,2}%' /tmp/command_lines.$$ ||
       [ "$(tail -1 /tmp/command_lines.$$)" != 100% ] || grep -Evqx '[0-9]{1,3}%' /tmp/command_lines.$$; then
        echo "FAIL: geotiff with --progress $where the command: $(head -c 200 /tmp/command_lines.$$)"
        failures=$((failures + 1))
    fi
done
rm -f /tmp/command_lines.$$

[ "$failures" -eq 0 ] || { echo "$failures command line(s) answered wrongly"; exit 1; }
