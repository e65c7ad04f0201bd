# Synthesizes the demo tune: an arpeggio of plucked notes (semitones from A4) over a quiet pad,
# with a touch of reverb, encoded by lame with an ID3v1 tag.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(notes 3 7 10 15 10 7 5 8 12 17 12 8 -2 2 5 10 5 2 0 3 7 12 15 19)
set(parts)
set(i 0)
foreach(n ${notes})
    math(EXPR i "${i} + 1")
    set(part ${WORK}/n${i}.wav)
    execute_process(COMMAND ${SOX} -n -r 44100 -c 2 -b 16 ${part} synth 0.3 pluck %${n} vol 0.6 fade 0 0.3 0.08
                    RESULT_VARIABLE r)
    if(NOT r EQUAL 0)
        message(FATAL_ERROR "sox failed for note ${n}")
    endif()
    list(APPEND parts ${part})
endforeach()
execute_process(COMMAND ${SOX} ${parts} ${WORK}/melody.wav RESULT_VARIABLE r)
execute_process(COMMAND ${SOX} -n -r 44100 -c 2 -b 16 ${WORK}/pad.wav
                synth 7.2 sine %-9 sine %-5 vol 0.12 fade 0.5 7.2 1.5 RESULT_VARIABLE r2)
execute_process(COMMAND ${SOX} -m ${WORK}/melody.wav ${WORK}/pad.wav ${WORK}/demo.wav reverb 30 gain -n -3
                RESULT_VARIABLE r3)
if(NOT r EQUAL 0 OR NOT r2 EQUAL 0 OR NOT r3 EQUAL 0)
    message(FATAL_ERROR "sox failed to mix the demo")
endif()
execute_process(COMMAND ${LAME} --quiet -b 160 --tt "Tunefold Demo" --ta "Tunefold" --tl "First Sound"
                --ty 2026 --id3v1-only ${WORK}/demo.wav ${OUT} RESULT_VARIABLE r)
if(NOT r EQUAL 0)
    message(FATAL_ERROR "lame failed on the demo")
endif()
file(REMOVE_RECURSE ${WORK})
