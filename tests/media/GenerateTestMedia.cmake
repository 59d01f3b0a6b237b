# Generates the test clips into OUT_DIR with gst-launch-1.0 (GST_LAUNCH).
# Clips already present are kept; each clip is written under a temporary
# name and renamed, so an interrupted run never leaves a half clip behind.
#
# Every video clip shows the "bar" test pattern scrolled left by 2 pixels
# per frame, so the bar's position in a frame tells its frame number
# (see README.md).
cmake_minimum_required(VERSION 3.25)
if(NOT OUT_DIR OR NOT GST_LAUNCH)
    message(FATAL_ERROR "usage: cmake -DOUT_DIR=dir -DGST_LAUNCH=path -P GenerateTestMedia.cmake")
endif()
file(MAKE_DIRECTORY ${OUT_DIR})

set(BAR "videotestsrc pattern=bar horizontal-speed=2")
set(VP8 "vp8enc deadline=1 cpu-used=8 keyframe-max-dist=25 target-bitrate=2000000 min-quantizer=4 max-quantizer=10")

function(make_clip name pipeline)
    set(target ${OUT_DIR}/${name})
    if(EXISTS ${target})
        return()
    endif()
    string(RANDOM LENGTH 8 tag)
    set(temp ${OUT_DIR}/.${tag}.${name})
    string(REPLACE "@OUT@" "${temp}" pipeline "${pipeline}")
    separate_arguments(args UNIX_COMMAND "${pipeline}")
    execute_process(COMMAND ${GST_LAUNCH} -q ${args}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
    if(NOT rc EQUAL 0 OR NOT EXISTS ${temp})
        file(REMOVE ${temp})
        message(FATAL_ERROR "could not make ${name}: ${rc}\n${out}\n${err}")
    endif()
    file(RENAME ${temp} ${target})
endfunction()

# Video 320x240 at 25 fps with a 440 Hz tone, 2 s.
make_clip(av.webm "webmmux name=mux ! filesink location=@OUT@
    ${BAR} num-buffers=50 ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! ${VP8} ! queue ! mux.
    audiotestsrc num-buffers=94 samplesperbuffer=1024 ! audio/x-raw,rate=48000,channels=2 ! audioconvert ! vorbisenc ! queue ! mux.")
# Video only, 25 fps, 3 s (75 frames): the frame-numbered clip.
make_clip(video25.webm "${BAR} num-buffers=75 ! video/x-raw,format=I420,width=320,height=240,framerate=25/1
    ! ${VP8} ! webmmux ! filesink location=@OUT@")
# Video only, 30 fps, 2 s (60 frames).
make_clip(video30.webm "${BAR} num-buffers=60 ! video/x-raw,format=I420,width=320,height=240,framerate=30/1
    ! ${VP8} ! webmmux ! filesink location=@OUT@")
# Audio only, 2 s.
make_clip(audio.ogg "audiotestsrc num-buffers=94 samplesperbuffer=1024 ! audio/x-raw,rate=48000,channels=2
    ! audioconvert ! vorbisenc ! oggmux ! filesink location=@OUT@")
# Interlaced raw YUY2 (top field first), 25 frames per second, 1 s.
make_clip(interlaced.mkv "${BAR} num-buffers=25
    ! video/x-raw,format=YUY2,width=320,height=240,framerate=25/1,interlace-mode=interleaved,field-order=top-field-first
    ! matroskamux ! filesink location=@OUT@")
# Interlaced raw YUY2 whose two fields come from different moments: frames
# 2k and 2k + 1 of a 50 fps bar clip woven together (top field from 2k),
# 25 frames per second, 1 s. The bar of the bottom field lies 2 pixels
# left of the top field's.
make_clip(fields.mkv "${BAR} num-buffers=50
    ! video/x-raw,format=YUY2,width=320,height=240,framerate=50/1
    ! interlace field-pattern=1:1 top-field-first=true ! matroskamux ! filesink location=@OUT@")
# Long GOP: video only, 25 fps, 12 s (300 frames), one key frame every 250
# frames; the bar moves 1 pixel per frame, so frames 0 to 299 read apart.
make_clip(longgop.webm "videotestsrc pattern=bar horizontal-speed=1 num-buffers=300
    ! video/x-raw,format=I420,width=320,height=240,framerate=25/1
    ! vp8enc deadline=1 cpu-used=8 keyframe-max-dist=250 target-bitrate=2000000 min-quantizer=4 max-quantizer=10
    ! webmmux ! filesink location=@OUT@")
# 4K (3840x2160), video only, 25 fps, 10 frames from one key frame.
make_clip(uhd.webm "videotestsrc pattern=bar horizontal-speed=8 num-buffers=10
    ! video/x-raw,format=I420,width=3840,height=2160,framerate=25/1
    ! vp8enc deadline=1 cpu-used=16 keyframe-max-dist=250 target-bitrate=4000000
    ! webmmux ! filesink location=@OUT@")
# Wide pixels: raw I420 160x120 with pixel aspect 2:1 (picture 320x120),
# 25 fps, 5 frames.
make_clip(widepixels.mkv "${BAR} num-buffers=5
    ! video/x-raw,format=I420,width=160,height=120,framerate=25/1,pixel-aspect-ratio=2/1
    ! matroskamux ! filesink location=@OUT@")
