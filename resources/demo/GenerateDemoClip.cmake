# Makes the demo clip OUT with gst-launch-1.0 (GST_LAUNCH): 4 s of interlaced
# PAL video (720x576, 25 frames a second, top field first) whose colour bars
# move sideways, so that each field shows another instant, with a time code
# that counts the frames, and a 440 Hz tone. The clip is written under a
# temporary name and renamed, so an interrupted build leaves no half clip.
cmake_minimum_required(VERSION 3.25)
if(NOT OUT OR NOT GST_LAUNCH)
    message(FATAL_ERROR "usage: cmake -DOUT=file -DGST_LAUNCH=path -P GenerateDemoClip.cmake")
endif()
get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
set(temp ${OUT}.part)
# 200 progressive frames at 50 per second become 100 interlaced frames.
set(pipeline
    "videotestsrc pattern=smpte horizontal-speed=6 num-buffers=200"
    "! video/x-raw,format=I420,width=720,height=576,framerate=50/1"
    "! interlace field-pattern=1:1 top-field-first=true"
    "! timecodestamper"
    "! timeoverlay time-mode=time-code font-desc=\"Sans Bold 36\" halignment=center valignment=center shaded-background=true"
    "! textoverlay text=Velotrax valignment=bottom halignment=center font-desc=\"Sans 20\""
    "! vp8enc deadline=1 cpu-used=8 keyframe-max-dist=25 target-bitrate=1000000"
    "! queue ! webmmux name=mux ! filesink location=${temp}"
    "audiotestsrc freq=440 volume=0.3 num-buffers=188 samplesperbuffer=1024"
    "! audio/x-raw,rate=48000,channels=2 ! audioconvert ! vorbisenc ! queue ! mux.")
string(JOIN " " pipeline ${pipeline})
separate_arguments(args UNIX_COMMAND "${pipeline}")
execute_process(COMMAND ${GST_LAUNCH} -q ${args}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 300)
if(NOT rc EQUAL 0 OR NOT EXISTS ${temp})
    file(REMOVE ${temp})
    message(FATAL_ERROR "could not make the demo clip: ${rc}\n${out}\n${err}")
endif()
file(RENAME ${temp} ${OUT})
